#pragma once

#include "FinderRules.h"
#include "RowHandOver.h"

#include <cstdint>
#include <functional>

class TimeSlice;

// Pairs equal, non-blank texts. A text that occurs n times gives floor(n / 2) rows: its 1st
// copy pairs with its 2nd, its 3rd with its 4th, and so on. Rows come in the order of the
// earlier copy of each pair. Blank texts (empty, or only U+0020) are never reported.
//
// Linear in the number of items: the items are dealt by hash into partitions small enough to
// pair in the processor's cache, each partition's copies paired in a table of its own, then
// one reporting pass. On large lists every stage runs on several threads while the caller
// keeps taking its turns: threads deal stretches of the list, take partitions as they free
// up, and build the rows of stretches of the list; the threads only read items. The
// partitions are gone before the first row is built. Rows reach sink in
// batches, on the caller's thread, between turns of the event loop and at the end. Before
// the first row, space learns how many rows and bytes of text are coming, so the receiver
// can make room once instead of growing as they arrive. Its progress counts 2 x items steps.
using RowSpace = std::function<void(qsizetype rows, qsizetype bytes)>;

void findDuplicates(const TextStore &items, TimeSlice *slice, const RowSink &sink,
                    const RowSpace &space = {}, const FindTuning &tuning = {});

// The same search for a caller without a window: the rows as format makes them into bytes,
// a stretch at a time on the worker threads, reach sink in list order. For a program that
// only writes them.
void findDuplicateBytes(const TextStore &items, const RowFormat &format, const ByteSink &sink,
                        const FindTuning &tuning = {});

// The most findDuplicates holds at once for its index of this many items (partitions, tables,
// marks and its threads' stacks), besides the items and the rows.
qint64 findIndexBytes(qsizetype items);
