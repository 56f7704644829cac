#include "RowHandOver.h"

#include "engine/core/TimeSlice.h"
#include "engine/core/Workers.h"
#include "engine/results/ResultWriter.h"

#include <algorithm>
#include <bit>
#include <chrono>
#include <map>

namespace {
// The items of word w of the marks (items w * 64 on) that any of them marks, within [from, to).
std::uint64_t markedIn(const std::vector<const std::uint64_t *> &marks, size_t w, size_t from,
                       size_t to) {
    std::uint64_t marked = 0;
    for (const std::uint64_t *some : marks)
        marked |= some[w];
    if (from > w * 64)
        marked &= ~std::uint64_t(0) << (from % 64);
    if (to < (w + 1) * 64)
        marked &= (std::uint64_t(1) << (to % 64)) - 1;
    return marked;
}

// Calls f(item) for the marked items of [from, to), in list order.
template <class F>
void forMarked(const std::vector<const std::uint64_t *> &marks, size_t from, size_t to, F &&f) {
    for (size_t w = from / 64; w * 64 < to; ++w)
        for (std::uint64_t marked = markedIn(marks, w, from, to); marked != 0; marked &= marked - 1)
            f(qsizetype(w * 64 + size_t(std::countr_zero(marked))));
}

// The marked items of [from, to), in list order, appended to rows: their lengths first, so
// that the rows' chunk is made once.
void appendMarked(const TextStore &items, const std::vector<const std::uint64_t *> &marks,
                  size_t from, size_t to, TextStore &rows) {
    qsizetype count = 0, bytes = 0;
    forMarked(marks, from, to, [&](qsizetype item) {
        ++count;
        bytes += TextStore::bufferBytes(items.bytes(item));
    });
    rows.expect(count, bytes);
    forMarked(marks, from, to, [&](qsizetype item) { rows.appendBytes(items.bytes(item)); });
}

// The marked items of [from, to) as a writer writes them, each followed by separator.
QByteArray formattedMarked(const TextStore &items, const std::vector<const std::uint64_t *> &marks,
                           size_t from, size_t to, const QByteArray &separator) {
    qsizetype count = 0, bytes = 0;
    forMarked(marks, from, to, [&](qsizetype item) {
        ++count;
        bytes += items.bytes(item).size();
    });
    return ResultWriter::formatted(
        count, bytes,
        [&](const auto &value) {
            forMarked(marks, from, to, [&](qsizetype item) { value(items.bytes(item)); });
        },
        separator);
}

// Cuts the list into the stretches the workers build rows of, in order. A stretch ends where
// the rows so far fill whole chunks of a store, so that the batch and the list take its rows
// without a copy; where rows are few, it ends sooner, after MaxItems items.
class Stretches {
public:
    Stretches(const std::vector<const std::uint64_t *> &marks, size_t items)
        : marks_(marks), items_(items) {}
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
            std::uint64_t marked = markedIn(marks_, w, from, limit);
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
    const std::vector<const std::uint64_t *> &marks_;
    const size_t items_;
    size_t next_ = 0;
    size_t rows_ = 0; // marked items before next_
};

// At most this many stretches a thread ahead of the one the caller waits for, so one that
// the system holds up does not hold up the others.
constexpr size_t StretchesAhead = 8;
} // namespace

// Hands the marked items to sink in list order. Workers build the rows a stretch of the list
// at a time; each stretch joins the batch once those before it have, and the caller only
// hands the batch over: with turns, once it is full (within half a slice of the last turn)
// or HandOverMs have passed, then a turn follows; without, a megabyte at a time. The
// workers wait while the batch is twice full, so the rows are never all held twice.
void reportRows(const TextStore &items, const std::vector<const std::uint64_t *> &marks,
                std::size_t threads, TimeSlice *slice, const RowSink &sink) {
    const auto n = size_t(items.size());
    if (n < ThreadedFrom) {
        TextStore rows;
        appendMarked(items, marks, 0, n, rows);
        handOverBatch(rows, sink);
        return;
    }
    constexpr size_t HeldBytes = 8 << 20;
    constexpr size_t ReadyBytes = 1 << 20;
    // The list pays for each row it takes: a full batch holds no more rows than the sink
    // took in about this long, as measured on the batches before (growing by half at most,
    // since one quick measure may be luck). The workers may fill it to twice that: a turn
    // that hands it over then takes about 6 ms at most.
    constexpr std::chrono::nanoseconds HandOverTime = std::chrono::milliseconds(3);
    qsizetype heldRows = 1 << 15;

    Stretches stretches(marks, n);
    size_t claimed = 0;  // stretches given to a worker
    size_t joined = 0;   // stretches in the batch or handed over
    size_t joinedTo = 0; // the items they cover
    struct Built {
        TextStore rows;
        size_t to;
    };
    std::map<size_t, Built> early; // built before a stretch ahead of them
    TextStore batch;
    // Handed over once full. The workers go on filling it up to twice that, so that they do
    // not wait for the caller to wake on a machine whose cores they keep busy.
    auto fullBy = [&](qsizetype times) {
        return batch.textBytes() >= size_t(times) * HeldBytes || batch.size() >= times * heldRows;
    };
    auto full = [&] { return fullBy(1); };
    workers::Crew crew;
    crew.start(threads, [&](size_t) {
        for (;;) {
            auto lock = crew.lock();
            crew.waitUntil(lock, [&] {
                return stretches.done() ||
                       (claimed < joined + StretchesAhead * threads && !fullBy(2));
            });
            if (stretches.done())
                return;
            const size_t stretch = claimed++;
            const auto [from, to] = stretches.claim();
            lock.unlock();
            TextStore rows;
            appendMarked(items, marks, from, to, rows);
            lock.lock();
            early.emplace(stretch, Built{std::move(rows), to});
            for (auto next = early.begin(); next != early.end() && next->first == joined;
                 next = early.erase(next), ++joined) {
                batch.append(next->second.rows);
                joinedTo = next->second.to;
            }
            crew.notify();
        }
    });

    auto lock = crew.lock();
    auto handOver = [&] {
        TextStore rows = batch;
        batch.clear();
        crew.notify();
        lock.unlock();
        const auto start = std::chrono::steady_clock::now();
        sink(rows);
        const auto took = std::chrono::steady_clock::now() - start;
        const qsizetype count = rows.size();
        rows.clear(); // freed before the lock is taken again
        lock.lock();
        if (slice && count >= 4096 && took.count() > 0)
            heldRows =
                std::clamp<qsizetype>(count * HandOverTime / took, 4096, heldRows + heldRows / 2);
    };
    auto turn = [&] {
        const auto done = qint64(n + joinedTo);
        lock.unlock();
        slice->setStepDone(done);
        slice->yield();
        lock.lock();
    };
    while (!crew.finished()) {
        if (!slice) {
            if (full() || batch.textBytes() >= ReadyBytes)
                handOver();
            else
                crew.waitFor(lock, workers::QuietPoll);
        } else if (full() || slice->idleDue()) {
            if (slice->idleDue())
                turn();
            // The results take their rows in a turn of their own.
            if (!batch.isEmpty() && (full() || slice->handOver())) {
                handOver();
                turn();
            }
        } else {
            crew.waitFor(lock, workers::TurnPoll);
        }
    }
    lock.unlock();
    crew.rethrowFailure();
    if (!batch.isEmpty())
        sink(batch);
}

void reportRowBytes(const TextStore &items, const std::vector<const std::uint64_t *> &marks,
                    std::size_t threads, const QByteArray &separator, const ByteSink &sink) {
    const auto n = size_t(items.size());
    if (n < ThreadedFrom) {
        const QByteArray bytes = formattedMarked(items, marks, 0, n, separator);
        if (!bytes.isEmpty())
            sink(bytes);
        return;
    }
    Stretches stretches(marks, n);
    size_t claimed = 0; // stretches given to a worker
    size_t written = 0; // stretches handed to sink
    std::map<size_t, QByteArray> ready;
    workers::Crew crew;
    crew.start(threads, [&](size_t) {
        for (;;) {
            auto lock = crew.lock();
            crew.waitUntil(lock, [&] {
                return stretches.done() || claimed < written + StretchesAhead * threads;
            });
            if (stretches.done())
                return;
            const size_t stretch = claimed++;
            const auto [from, to] = stretches.claim();
            lock.unlock();
            QByteArray bytes = formattedMarked(items, marks, from, to, separator);
            lock.lock();
            ready.emplace(stretch, std::move(bytes));
            crew.notify();
        }
    });
    auto lock = crew.lock();
    for (;;) {
        if (!ready.empty() && ready.begin()->first == written) {
            const QByteArray bytes = std::move(ready.begin()->second);
            ready.erase(ready.begin());
            lock.unlock();
            if (!bytes.isEmpty())
                sink(bytes);
            lock.lock();
            ++written;
            crew.notify();
        } else if (crew.finished()) {
            break;
        } else {
            crew.waitFor(lock, workers::QuietPoll);
        }
    }
    lock.unlock();
    crew.rethrowFailure();
}
