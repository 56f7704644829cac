#pragma once

#include "TextStore.h"

#include <QIODevice>

#include <functional>

class TimeSlice;

// Reads a list file, one item per line. CR, LF and CR LF each end a line; a line end at the
// very end gives no further item. A byte-order mark (UTF-8, UTF-16 LE or BE) selects the
// decoding and is dropped; without one the file is UTF-8 when it is valid UTF-8, otherwise
// Windows-1252. No byte is lost: NULs stay in their line, and the bytes Windows-1252 leaves
// undefined become the code points of the same value.
//
// Reads in one pass what cannot be read twice (a pipe); a file is first surveyed, then read.
// Before the first line, space learns how many lines and bytes of text are coming (lines is 0
// where only the bytes can be estimated, as for UTF-16; bytes is the file's size where it is
// not UTF-8), so the receiver can make room once.
// Its progress counts the bytes of the device.
// Lines reach sink in batches, at least once per block read and at the end. A read failure
// hands over the lines read so far, then throws Failure.
using LineSink = std::function<void(const TextStore &lines)>;
using LineSpace = std::function<void(qsizetype lines, qsizetype bytes)>;
void readListLines(QIODevice &device, TimeSlice *slice, const LineSink &sink,
                   const LineSpace &space = {});
