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
// Lines reach sink in batches, before every turn of the event loop and at the end. A read
// failure hands over the lines read so far, then throws Failure.
using LineSink = std::function<void(const TextStore &lines)>;
void readListLines(QIODevice &device, TimeSlice *slice, const LineSink &sink);

// The text of one Windows-1252 byte, as UTF-8.
QByteArrayView windows1252ToUtf8(uchar byte);
