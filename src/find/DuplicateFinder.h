#pragma once

#include "list/TextStore.h"

#include <functional>

class TimeSlice;

// Pairs equal, non-blank texts. A text that occurs n times gives floor(n / 2) rows: its 1st
// copy pairs with its 2nd, its 3rd with its 4th, and so on. Rows come in the order of the
// earlier copy of each pair. Blank texts (empty, or only U+0020) are never reported.
//
// Linear in the number of items: one counting pass over a hash index, one reporting pass.
// Rows found so far reach sink before every turn of the event loop and at the end. Before
// the first row, space learns how many rows and bytes of text are coming, so the receiver
// can make room once instead of growing as they arrive.
using RowSink = std::function<void(const TextStore &rows)>;
using RowSpace = std::function<void(qsizetype rows, qsizetype bytes)>;
void findDuplicates(const TextStore &items, TimeSlice *slice, const RowSink &sink,
                    const RowSpace &space = {});
