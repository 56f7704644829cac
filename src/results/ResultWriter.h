#pragma once

#include "list/TextStore.h"

#include <QIODevice>

class TimeSlice;

enum class ResultFormat {
    OnePerLine, // each value followed by CR LF
    Comma,      // one line: each value followed by a comma, then CR LF
};

// Writes the values in the system's encoding, no byte-order mark. Throws Failure at the first
// write that fails.
void writeResults(QIODevice &device, const TextStore &values, ResultFormat format,
                  TimeSlice *slice);
