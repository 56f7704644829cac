#pragma once

#include "DuplicateFinder.h"

#include <vector>

// Below this many items a second thread costs more than it saves.
constexpr std::uint32_t ThreadedFrom = 100'000;

// Hands the items marked in any of marks (bit i % 64 of marks[m][i / 64] for item i) to sink
// in list order, in batches built by threads worker threads on a list of ThreadedFrom items
// or more.
void reportRows(const TextStore &items, const std::vector<const std::uint64_t *> &marks,
                std::size_t threads, TimeSlice *slice, const RowSink &sink);

// The same items as a writer writes them, each followed by separator, made a stretch at a
// time on the worker threads; the caller only hands them to sink, in list order.
void reportRowBytes(const TextStore &items, const std::vector<const std::uint64_t *> &marks,
                    std::size_t threads, const QByteArray &separator, const ByteSink &sink);
