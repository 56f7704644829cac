#pragma once

#include "FinderRules.h"

#include <bit>
#include <cstdint>
#include <functional>
#include <vector>

class TimeSlice;

// Below this many items a second thread costs more than it saves.
constexpr std::uint32_t ThreadedFrom = 100'000;

// The reported items: item i is marked in any of them where bit i % 64 of word i / 64 is set.
using Marks = std::vector<const std::uint64_t *>;

// The marked items of a stretch [from, to) of the list, in list order.
class MarkedRows {
public:
    MarkedRows(const TextStore &items, const Marks &marks, std::size_t from, std::size_t to)
        : items_(items), marks_(marks), from_(from), to_(to) {}

    // The items of word w of the marks (items w * 64 on) that any of them marks, within
    // [from, to).
    static std::uint64_t markedIn(const Marks &marks, std::size_t w, std::size_t from,
                                  std::size_t to) {
        std::uint64_t marked = 0;
        for (const std::uint64_t *some : marks)
            marked |= some[w];
        if (from > w * 64)
            marked &= ~std::uint64_t(0) << (from % 64);
        if (to < (w + 1) * 64)
            marked &= (std::uint64_t(1) << (to % 64)) - 1;
        return marked;
    }

    // Calls f(bytes) with each row's stored bytes, in order.
    template <class F> void forEach(F &&f) const {
        for (std::size_t w = from_ / 64; w * 64 < to_; ++w)
            for (std::uint64_t marked = markedIn(marks_, w, from_, to_); marked != 0;
                 marked &= marked - 1)
                f(items_.bytes(qsizetype(w * 64 + std::size_t(std::countr_zero(marked)))));
    }

private:
    const TextStore &items_;
    const Marks &marks_;
    const std::size_t from_, to_;
};

// Hands the marked items to sink in list order, in batches built by threads worker threads
// on a list of ThreadedFrom items or more.
void reportRows(const TextStore &items, const Marks &marks, std::size_t threads, TimeSlice *slice,
                const RowSink &sink);

// The same items as format makes them into bytes, a stretch at a time on the worker threads;
// the caller only hands them to sink, in list order.
using RowFormat = std::function<QByteArray(const MarkedRows &rows)>;
using ByteSink = std::function<void(const QByteArray &bytes)>;
void reportRowBytes(const TextStore &items, const Marks &marks, std::size_t threads,
                    const RowFormat &format, const ByteSink &sink);
