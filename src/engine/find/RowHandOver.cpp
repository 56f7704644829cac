#include "RowHandOver.h"

#include "engine/core/TimeSlice.h"
#include "engine/core/Workers.h"

#include <algorithm>
#include <chrono>
#include <map>
#include <utility>

namespace {
// The rows, their lengths first, so that their chunk is made once.
TextStore rowsOf(const MarkedRows &marked) {
    qsizetype count = 0, bytes = 0;
    marked.forEach([&](QByteArrayView text) {
        ++count;
        bytes += TextStore::bufferBytes(text);
    });
    TextStore rows;
    rows.expect(count, bytes);
    marked.forEach([&](QByteArrayView text) { rows.appendBytes(text); });
    return rows;
}

// Cuts the list into the stretches the workers build rows of, in order. A stretch ends where
// the rows so far fill whole chunks of a store, so that the batch and the list take its rows
// without a copy; where rows are few, it ends sooner, after MaxItems items.
class Stretches {
public:
    Stretches(const Marks &marks, size_t items) : marks_(marks), items_(items) {}
    static constexpr size_t MaxItems = 1 << 20;

    bool done() const { return next_ == items_; }
    // The next stretch's items [from, to).
    std::pair<size_t, size_t> claim() {
        const size_t from = next_;
        const size_t limit = std::min(items_, from + MaxItems);
        const size_t wanted = TextStore::ChunkItems - rows_ % TextStore::ChunkItems;
        size_t found = 0;
        next_ = limit;
        for (size_t w = from / 64; w * 64 < limit; ++w) {
            std::uint64_t marked = MarkedRows::markedIn(marks_, w, from, limit);
            const auto count = size_t(std::popcount(marked));
            if (found + count >= wanted) {
                for (size_t skip = wanted - found - 1; skip > 0; --skip)
                    marked &= marked - 1;
                next_ = w * 64 + size_t(std::countr_zero(marked)) + 1;
                found = wanted;
                break;
            }
            found += count;
        }
        rows_ += found;
        return {from, next_};
    }

private:
    const Marks &marks_;
    const size_t items_;
    size_t next_ = 0;
    size_t rows_ = 0; // marked items before next_
};

// At most this many stretches a thread ahead of the one the caller takes next, so one that
// the system holds up does not hold up the others, and the pieces waiting stay few.
constexpr size_t StretchesAhead = 8;

// Builds a piece of each stretch of the list, build(rows), on threads worker threads and hands
// the pieces to take(piece, end of its stretch) on the caller's thread, in list order. While
// none is ready the caller waits, poll at most, then calls idle(). A list of fewer than
// ThreadedFrom items is one stretch, built here.
template <class Build, class Take, class Idle>
void handOverStretches(const TextStore &items, const Marks &marks, size_t threads,
                       std::chrono::milliseconds poll, const Build &build, const Take &take,
                       const Idle &idle) {
    const auto n = size_t(items.size());
    if (n < ThreadedFrom) {
        take(build(MarkedRows(items, marks, 0, n)), n);
        return;
    }
    using Piece = decltype(build(MarkedRows(items, marks, 0, 0)));
    Stretches stretches(marks, n);
    size_t claimed = 0;                               // stretches given to a worker
    size_t taken = 0;                                 // pieces handed to take
    std::map<size_t, std::pair<Piece, size_t>> ready; // built ahead, with their stretch's end
    workers::Crew crew;
    crew.start(threads, [&](size_t) {
        for (;;) {
            auto lock = crew.lock();
            crew.waitUntil(lock, [&] {
                return stretches.done() || claimed < taken + StretchesAhead * threads;
            });
            if (stretches.done())
                return;
            const size_t stretch = claimed++;
            const auto [from, to] = stretches.claim();
            lock.unlock();
            Piece piece = build(MarkedRows(items, marks, from, to));
            lock.lock();
            ready.emplace(stretch, std::pair(std::move(piece), to));
            crew.notify();
        }
    });
    auto lock = crew.lock();
    for (;;) {
        if (!ready.empty() && ready.begin()->first == taken) {
            auto [piece, to] = std::move(ready.begin()->second);
            ready.erase(ready.begin());
            lock.unlock();
            take(std::move(piece), to);
            lock.lock();
            ++taken;
            crew.notify();
        } else if (crew.finished()) {
            break;
        } else {
            crew.waitFor(lock, poll);
            lock.unlock();
            idle();
            lock.lock();
        }
    }
    lock.unlock();
    crew.rethrowFailure();
}

// A full batch: the list pays for each row it takes, and takes this many in a millisecond or
// two, a short turn; and the rows are not held long.
constexpr qsizetype HeldRows = 1 << 15;
constexpr size_t HeldBytes = 8 << 20;
// Without turns, the rows are handed over a megabyte at a time: the receiver works on them
// while the workers build the next.
constexpr size_t ReadyBytes = 1 << 20;
} // namespace

// The workers build the rows a stretch of the list at a time; the caller joins them into a
// batch and hands it over: with turns, once it is full (within half a slice of the last turn)
// or HandOverMs have passed, then a turn follows; without, a megabyte at a time. The rows
// are never all held twice.
void reportRows(const TextStore &items, const Marks &marks, std::size_t threads, TimeSlice *slice,
                const RowSink &sink) {
    TextStore batch;
    size_t joinedTo = 0; // the items the batch and those handed over cover
    auto full = [&] { return batch.textBytes() >= HeldBytes || batch.size() >= HeldRows; };
    auto handOver = [&] { sink(std::exchange(batch, {})); };
    auto turn = [&] {
        slice->setStepDone(qint64(size_t(items.size()) + joinedTo));
        slice->yield();
    };
    auto serve = [&] {
        if (!slice) {
            if (full() || batch.textBytes() >= ReadyBytes)
                handOver();
        } else if (full() || slice->idleDue()) {
            if (slice->idleDue())
                turn();
            // The results take their rows in a turn of their own.
            if (!batch.isEmpty() && (full() || slice->handOver())) {
                handOver();
                turn();
            }
        }
    };
    handOverStretches(
        items, marks, threads, slice ? workers::TurnPoll : workers::QuietPoll, rowsOf,
        [&](const TextStore &rows, size_t to) {
            batch.append(rows);
            joinedTo = to;
            if (to < size_t(items.size())) // the last rows go once the workers are done
                serve();
        },
        serve);
    if (!batch.isEmpty())
        sink(batch);
}

void reportRowBytes(const TextStore &items, const Marks &marks, std::size_t threads,
                    const RowFormat &format, const ByteSink &sink) {
    handOverStretches(
        items, marks, threads, workers::QuietPoll, format,
        [&](const QByteArray &bytes, size_t) {
            if (!bytes.isEmpty())
                sink(bytes);
        },
        [] {});
}
