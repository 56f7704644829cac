#include "DuplicateFinder.h"

#include "DealtCopies.h"
#include "engine/core/ErrorReport.h"
#include "engine/core/Workers.h"
#include "PartitionPairer.h"

#include <xxhash.h>

#include <algorithm>
#include <atomic>
#include <limits>
#include <memory>
#include <new>
#include <thread>
#include <vector>

namespace {
std::uint64_t xxh3(QByteArrayView text) {
    return XXH3_64bits(text.data(), size_t(text.size()));
}

// A partition of this many copies pairs in a table that stays in the processor's cache.
constexpr std::size_t PartitionItems = std::size_t(1) << 15;
// The stretches of the list each thread deals, on average.
constexpr std::size_t DealStretches = 4;
// A single thread deals the list in one stretch.
std::size_t dealStretches(std::size_t threads) {
    return threads == 1 ? 1 : threads * DealStretches;
}
// Items a thread looks at between pauses.
constexpr std::size_t PauseItems = PartitionPairer::PauseEvery;

int threadsFor(std::uint32_t items, int wanted) {
    if (wanted > 0)
        return wanted;
    if (items < ThreadedFrom)
        return 1;
    return machineThreads();
}

std::size_t threadsOf(qsizetype items, const FindTuning &tuning) {
    return std::size_t(threadsFor(
        std::uint32_t(std::min<qsizetype>(items, std::numeric_limits<std::int32_t>::max())),
        tuning.threads));
}

std::uint32_t partitionsFor(std::size_t items) {
    return std::uint32_t(std::max<std::size_t>(1, (items + PartitionItems - 1) / PartitionItems));
}

// The address space each thread reserves for its stack (the usual 8 MB stack limit).
constexpr qint64 ThreadStackBytes = qint64(8) << 20;
} // namespace

qint64 findIndexBytes(qsizetype items) {
    const auto n = qint64(items);
    const auto count = qint64(threadsOf(items, {}));
    const std::uint32_t parts = partitionsFor(size_t(n));
    // Each copy's record, with the blocks' slack; each thread's marks; and what
    // each thread pairs a partition in: its copies side by side and its table. A partition of
    // twice the average stands for the largest one.
    constexpr qint64 CopyBytes = sizeof(PartitionPairer::Copy);
    const auto stretches = qint64(dealStretches(std::size_t(count)));
    const qint64 copies = n * CopyBytes + stretches * qint64(DealtCopies::slackBytes(parts));
    const qint64 marks = count * (n / 64 + 1) * qint64(sizeof(std::uint64_t));
    const qint64 largest = 2 * std::max<qint64>(n / parts, 1);
    const qint64 tables =
        count * (largest * CopyBytes +
                 qint64(PartitionPairer::tableSlots(size_t(largest)) * sizeof(std::uint64_t)));
    return copies + marks + tables + (count > 1 ? count * ThreadStackBytes : 0);
}

namespace {
struct Paired {
    // Each thread's pairer holds the marks of the reported items.
    std::vector<std::unique_ptr<PartitionPairer>> pairers;
    // The copies as dealt, no longer read.
    std::vector<DealtCopies> dealt;
};

// Pairs the copies of every value.
Paired pairAll(const TextStore::Lookup &lookup, const TextStore &items, TimeSlice *slice,
               std::size_t threads, const FindTuning &tuning) {
    // A position and its waiting flag share 32 bits.
    if (items.size() >= qsizetype(std::numeric_limits<std::int32_t>::max()))
        throw Failure(QStringLiteral("Out of memory"));
    const auto n = std::uint32_t(items.size());
    const FindHash hash = tuning.hash ? tuning.hash : xxh3;
    const std::uint32_t parts = partitionsFor(n);

    // Progress: finding counts n items, reporting n more. Dealing the copies counts half,
    // pairing the other half.
    std::atomic<qint64> paired{0};
    auto pairedUpTo = [&] { return std::min<qint64>(paired.load(std::memory_order_relaxed), n); };
    // Partition p holds the copies of stretch 0, then of stretch 1, ...: in list order. Each
    // thread takes the next stretch as it frees up, so one the system holds up does not hold
    // up the others.
    const std::size_t stretches = dealStretches(threads);
    auto range = [&](size_t r) {
        return std::pair(size_t(n) * r / stretches, size_t(n) * (r + 1) / stretches);
    };
    Paired result;
    std::vector<DealtCopies> &dealt = result.dealt;
    for (size_t r = 0; r < stretches; ++r)
        dealt.emplace_back(parts, range(r).second - range(r).first);
    std::atomic<std::size_t> nextStretch{0};
    workers::runThreaded(threads, slice, pairedUpTo, [&](size_t, const auto &pause) {
        for (std::size_t r; (r = nextStretch.fetch_add(1)) < stretches;) {
            const auto [first, end] = range(r);
            lookup.forEach(qsizetype(first), qsizetype(end),
                           [&](qsizetype i, QByteArrayView text, std::uint32_t ref) {
                               if (i % qsizetype(PauseItems) == 0) {
                                   paired.fetch_add(qint64(PauseItems / 2),
                                                    std::memory_order_relaxed);
                                   pause();
                               }
                               const std::uint64_t h = hashOf(text, hash);
                               if (h != BlankHash)
                                   dealt[r].add(partOfHash(h, parts), {h, std::uint32_t(i), ref});
                           });
        }
    });

    // Each thread takes the next partition as it frees up.
    std::atomic<std::uint32_t> nextPart{0};
    std::vector<std::unique_ptr<PartitionPairer>> &pairers = result.pairers;
    for (size_t t = 0; t < threads; ++t)
        pairers.push_back(std::make_unique<PartitionPairer>(lookup, items.size()));
    workers::runThreaded(threads, slice, pairedUpTo, [&](size_t t, const auto &pause) {
        const std::function<void()> pauseNow = [&] {
            paired.fetch_add(qint64(PauseItems / 2), std::memory_order_relaxed);
            pause();
        };
        std::vector<PartitionPairer::Copy> copies;
        for (std::uint32_t p; (p = nextPart.fetch_add(1)) < parts;) {
            std::size_t count = 0;
            for (const DealtCopies &some : dealt)
                count += some.count(p);
            copies.resize(count);
            for (std::size_t at = 0; const DealtCopies &some : dealt)
                at += some.copyOut(p, copies.data() + at);
            pairers[t]->pair(copies.data(), count, pauseNow);
        }
    });
    return result;
}

// Gives the dealt copies back to the system. Unmapping that much memory takes a while: where
// threads already run, one of its own does it while the rows are reported.
std::jthread release(std::vector<DealtCopies> &dealt, std::size_t threads) {
    std::vector<DealtCopies> copies = std::move(dealt);
    if (threads > 1) {
        try {
            return std::jthread([copies = std::move(copies)]() mutable { copies.clear(); });
        } catch (const std::exception &) {
            // released here
        }
    }
    return {};
}

Marks marksOf(const std::vector<std::unique_ptr<PartitionPairer>> &pairers) {
    Marks marks;
    for (const auto &pairer : pairers)
        marks.push_back(pairer->marks());
    return marks;
}
} // namespace

void findDuplicates(const TextStore &items, TimeSlice *slice, const RowSink &sink,
                    const RowSpace &space, const FindTuning &tuning) {
    const auto threads = threadsOf(items.size(), tuning);
    const TextStore::Lookup lookup(items); // as long as the pairers
    Paired paired = pairAll(lookup, items, slice, threads, tuning);
    // Asked before the dealt copies go: a thread unmapping them holds up the system calls
    // of the others.
    if (space) {
        qsizetype rows = 0, bytes = 0;
        for (const auto &pairer : paired.pairers) {
            rows += pairer->rows();
            bytes += pairer->rowBytes();
        }
        try {
            space(rows, bytes);
        } catch (const std::bad_alloc &) {
            // The rows are refused only without the copies.
            paired.dealt.clear();
            space(rows, bytes);
        }
    }
    const std::jthread released = release(paired.dealt, threads);
    reportRows(items, marksOf(paired.pairers), threads, slice, sink);
}

void findDuplicateBytes(const TextStore &items, const RowFormat &format, const ByteSink &sink,
                        const FindTuning &tuning) {
    const auto threads = threadsOf(items.size(), tuning);
    const TextStore::Lookup lookup(items); // as long as the pairers
    Paired paired = pairAll(lookup, items, nullptr, threads, tuning);
    const std::jthread released = release(paired.dealt, threads);
    reportRowBytes(items, marksOf(paired.pairers), threads, format, sink);
}
