#include "RowHandOver.h"

#include "core/TimeSlice.h"
#include "core/Workers.h"

#include <algorithm>
#include <bit>
#include <chrono>
#include <map>

namespace {
// The marked items of words [first, end) of the marks, in list order, appended to rows.
void appendMarked(const TextStore &items, const std::vector<const std::uint64_t *> &marks,
                  size_t first, size_t end, TextStore &rows) {
    for (size_t w = first; w < end; ++w) {
        std::uint64_t marked = 0;
        for (const std::uint64_t *some : marks)
            marked |= some[w];
        for (; marked != 0; marked &= marked - 1)
            rows.appendBytes(items.bytes(qsizetype(w * 64 + size_t(std::countr_zero(marked)))));
    }
}

// Workers build the rows a chunk of this many words of marks at a time, at most this many
// chunks a thread ahead of the one the caller waits for, so one that the system holds up
// does not hold up the others.
constexpr size_t ChunkWords = 256;
constexpr size_t ChunksAhead = 8;
} // namespace

// Hands the marked items to sink in list order. Workers build the rows a chunk of the list
// at a time; each chunk joins the batch once the chunks before it have, and the caller only
// hands the batch over: with turns, once it is full (within half a slice of the last turn)
// or HandOverMs have passed, then a turn follows; without, a megabyte at a time. The
// workers wait while the batch is full, so the rows are never all held twice.
void reportRows(const TextStore &items, const std::vector<const std::uint64_t *> &marks,
                std::size_t threads, TimeSlice *slice, const RowSink &sink) {
    const auto n = size_t(items.size());
    const size_t words = n / 64 + 1;
    if (n < ThreadedFrom) {
        TextStore rows;
        appendMarked(items, marks, 0, words, rows);
        handOverBatch(rows, sink);
        return;
    }
    constexpr size_t HeldBytes = 8 << 20;
    constexpr size_t ReadyBytes = 1 << 20;
    // The list pays for each row it takes: a batch holds no more rows than the sink
    // took in about this long, as measured on the batches before (growing by half at most,
    // since one quick measure may be luck).
    constexpr std::chrono::nanoseconds HandOverTime = std::chrono::milliseconds(6);
    qsizetype heldRows = 1 << 15;

    const size_t chunks = (words + ChunkWords - 1) / ChunkWords;
    size_t claimed = 0;                // chunks given to a worker
    size_t joined = 0;                 // chunks in the batch or handed over
    std::map<size_t, TextStore> early; // built before a chunk ahead of them
    TextStore batch;
    auto full = [&] { return batch.textBytes() >= HeldBytes || batch.size() >= heldRows; };
    workers::Crew crew;
    crew.start(threads, [&](size_t) {
        for (;;) {
            auto lock = crew.lock();
            crew.waitUntil(lock, [&] {
                return claimed == chunks || (claimed < joined + ChunksAhead * threads && !full());
            });
            if (claimed == chunks)
                return;
            const size_t chunk = claimed++;
            lock.unlock();
            TextStore rows;
            appendMarked(items, marks, chunk * ChunkWords,
                         std::min(words, (chunk + 1) * ChunkWords), rows);
            lock.lock();
            early.emplace(chunk, std::move(rows));
            for (auto next = early.begin(); next != early.end() && next->first == joined;
                 next = early.erase(next), ++joined)
                batch.append(next->second);
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
        const auto done = qint64(n + std::min(n, joined * ChunkWords * 64));
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
                    std::size_t threads, const RowFormat &format, const ByteSink &sink) {
    const auto n = size_t(items.size());
    const size_t words = n / 64 + 1;
    if (n < ThreadedFrom) {
        TextStore rows;
        appendMarked(items, marks, 0, words, rows);
        if (!rows.isEmpty())
            sink(format(rows));
        return;
    }
    const size_t chunks = (words + ChunkWords - 1) / ChunkWords;
    size_t claimed = 0; // chunks given to a worker
    size_t written = 0; // chunks handed to sink
    std::map<size_t, QByteArray> ready;
    workers::Crew crew;
    crew.start(threads, [&](size_t) {
        for (;;) {
            auto lock = crew.lock();
            crew.waitUntil(lock, [&] {
                return claimed == chunks || claimed < written + ChunksAhead * threads;
            });
            if (claimed == chunks)
                return;
            const size_t chunk = claimed++;
            lock.unlock();
            TextStore rows;
            appendMarked(items, marks, chunk * ChunkWords,
                         std::min(words, (chunk + 1) * ChunkWords), rows);
            QByteArray bytes = format(rows);
            lock.lock();
            ready.emplace(chunk, std::move(bytes));
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
