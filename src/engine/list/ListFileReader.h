#pragma once

#include "engine/core/ErrorReport.h"
#include "engine/store/TextStore.h"

#include <QIODevice>

#include <functional>
#include <limits>

class TimeSlice;

// Reads a list file, one item per line. CR, LF and CR LF each end a line; a line end at the
// very end gives no further item. A byte-order mark (UTF-8, UTF-16 LE or BE) selects the
// decoding and is dropped; without one each line is decoded on its own, so that equal bytes
// give equal texts: as UTF-8 where it is valid UTF-8, else as Windows-1252 (with a UTF-8 mark,
// only the bytes of such a line that belong to no UTF-8 sequence are). Where reads end never
// matters. No byte is lost: NULs stay in their line, and the bytes Windows-1252 leaves
// undefined become the code points of the same value.
//
// Reads every device once, handing lines over as they are read. Before the first line, space
// learns how many lines and bytes of text a file is likely to hold (estimated from its size
// and its first block; lines is 0 where only the bytes can be estimated, as for UTF-16), so
// the receiver can make room once; it is not told for a device of unknown size.
// Its progress counts the bytes of the device.
// Lines reach sink in batches, in order, at least once per block read and at the end. A read
// failure hands over the lines read before it, then throws Failure; a line longer than
// tuning's longestLine throws LineTooLong once about that many of its bytes are read.
using LineSink = std::function<void(const TextStore &lines)>;
using LineSpace = std::function<void(qsizetype lines, qsizetype bytes)>;
struct ReadTuning {
    qint64 longestLine = std::numeric_limits<qint64>::max(); // in bytes as cut
};
class LineTooLong : public Failure {
public:
    explicit LineTooLong(qint64 line)
        : Failure(QStringLiteral("line %1 is too long").arg(line)), line(line) {}
    qint64 line; // from 1, in the file
};
void readListLines(QIODevice &device, TimeSlice *slice, const LineSink &sink,
                   const LineSpace &space = {}, const ReadTuning &tuning = {});
