#pragma once

#include "list/TextStore.h"

#include <cstdint>
#include <functional>

class TimeSlice;

// Pairs equal, non-blank texts. A text that occurs n times gives floor(n / 2) rows: its 1st
// copy pairs with its 2nd, its 3rd with its 4th, and so on. Rows come in the order of the
// earlier copy of each pair. Blank texts (empty, or only U+0020) are never reported.
//
// Linear in the number of items: one pass that pairs the copies of each value in a hash
// index, one reporting pass. On large lists both run on several threads while the caller
// keeps taking its turns: the first with each thread taking the values of one part of the
// hash space, the second with each building the rows of a stretch of the list; the threads
// only read items. The index is gone before the first row is built. Rows reach sink in
// batches, on the caller's thread, between turns of the event loop and at the end. Before
// the first row, space learns how many rows and bytes of text are coming, so the receiver
// can make room once instead of growing as they arrive. Its progress counts 2 x items steps.
using RowSink = std::function<void(const TextStore &rows)>;
using RowSpace = std::function<void(qsizetype rows, qsizetype bytes)>;
using FindHash = std::uint64_t (*)(QByteArrayView text);
struct FindTuning {
    int threads = 0;         // 0: as many as pay on this machine
    FindHash hash = nullptr; // nullptr: XXH3; tests put in one that collides
};
// Blank texts (empty, or only spaces) are never paired.
bool isBlankText(QByteArrayView text);
// Which of parts parts a hash belongs to, by its upper half; the lower half places a value in
// its part's table.
inline std::uint32_t partOfHash(std::uint64_t hash, std::uint32_t parts) {
    return std::uint32_t(((hash >> 32) * parts) >> 32);
}

void findDuplicates(const TextStore &items, TimeSlice *slice, const RowSink &sink,
                    const RowSpace &space = {}, const FindTuning &tuning = {});

// The most findDuplicates holds at once for its index of this many items (hashes, slots,
// marks and its threads' stacks), besides the items and the rows.
qint64 findIndexBytes(qsizetype items);
