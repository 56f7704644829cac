#include "SpillFinder.h"

#include "engine/core/Workers.h"
#include "SpillRecords.h"
#include "SpillTable.h"

#include <xxhash.h>

#include <algorithm>
#include <queue>
#include <vector>

namespace {
using namespace spill;

// Splitting again stops here: texts that still fall together are equal or collide.
constexpr int MaxLevel = 8;
constexpr std::size_t CachedTable = std::size_t(16) << 20;
// Files held open at once by one split; a list that would need more is split again.
constexpr std::uint64_t MaxParts = 1024;
// Of the budget, pairing a partition may hold five eighths, reading and writing a quarter;
// the marks take the rest.
constexpr qint64 PairingEighths = 5;
constexpr qint64 BufferFraction = 4;
// A value in a partition's table takes about this many times what it takes in memory.
constexpr std::uint64_t TableGrowth = 2;
// The merged rows reach the sink in batches of about this many bytes of text.
constexpr std::size_t RowBatchBytes = std::size_t(1) << 20;
// The store's end offset (8 bytes), the finder's hash and position of its copy (12), its
// marks and the batches of lines being read: about this much an item takes besides its text.
constexpr qint64 ItemBytes = 28;

// Pairs the copies of each value of a partition, marking the earlier copy of each pair; false
// when its values do not fit the table. The texts of a block are hashed and their slots
// fetched before they are looked up.
bool pair(Partition &part, ValueTable &table, std::vector<std::uint64_t> &marks,
          std::size_t buffer) {
    constexpr std::size_t Block = 16;
    RecordReader records(part, buffer);
    std::uint64_t position = 0, record = 0;
    QByteArrayView texts[Block];
    std::uint64_t hashes[Block];
    part.rows = 0;
    for (;;) {
        std::size_t n = 0;
        for (bool refill = true; n < Block && records.next(position, texts[n], refill);
             ++n, refill = false) {
            hashes[n] = hashAt(texts[n], part.level, part.hash);
            table.prefetch(hashes[n]);
        }
        if (n == 0)
            return true;
        for (std::size_t k = 0; k < n; ++k)
            if (!table.visit(record++, hashes[k], texts[k], marks, part.rows))
                return false;
    }
}
} // namespace

qint64 inMemoryNeed(qint64 items, qint64 textBytes) {
    return textBytes + items * ItemBytes;
}

struct SpillFinder::Impl {
    QString folder;
    qint64 budget;
    std::size_t threads;
    // What pairing a partition may hold, a thread; the rest is for reading, writing and the
    // marks.
    std::size_t partitionLimit() const {
        return std::size_t(budget / 8 * PairingEighths) / threads;
    }
    std::size_t bufferShare() const { return std::size_t(budget / BufferFraction); }
    // A thread reads through one half of its share and writes through the other.
    std::size_t threadShare() const { return bufferShare() / threads / 2; }

    std::uint32_t partsFor(qint64 need, std::size_t share) const {
        // A table that stays within the processor's cache is looked up several times faster.
        const std::size_t target = std::min(partitionLimit(), CachedTable);
        const auto wanted = std::uint64_t(need) * TableGrowth / target + 1;
        const std::uint64_t affordable = std::min<std::uint64_t>(share / MinBuffer, MaxParts);
        return std::uint32_t(
            std::clamp<std::uint64_t>(wanted, 2, std::max<std::uint64_t>(affordable, 2)));
    }

    Partition reportedOf(const Partition &part, const std::vector<std::uint64_t> &marks,
                         std::size_t readBuffer) const;
    std::vector<Partition> pairOrSplit(Partition &part, ValueTable &table) const;
    std::vector<Partition> pairAll(std::vector<Partition> todo, const Progress &progress) const;

    std::unique_ptr<Scatter> scatter;
    std::uint64_t position = 0;
};

SpillFinder::SpillFinder(const QString &folder, qint64 budget, qint64 expectedNeed,
                         const FindTuning &tuning)
    : d_(std::make_unique<Impl>()) {
    d_->folder = folder;
    d_->budget = std::max<qint64>(budget, 1024);
    d_->threads = std::size_t(tuning.threads > 0 ? tuning.threads : machineThreads());
    const std::uint32_t parts = d_->partsFor(expectedNeed, d_->bufferShare());
    d_->scatter = std::make_unique<Scatter>(folder, parts, 0, tuning.hash,
                                            bufferFor(qint64(d_->bufferShare()), parts));
}

SpillFinder::~SpillFinder() = default;

void SpillFinder::add(const TextStore &lines) {
    for (qsizetype i = 0, n = lines.size(); i < n; ++i) {
        const QByteArrayView text = lines.bytes(i);
        if (!isBlankText(text))
            d_->scatter->add(d_->position, text);
        ++d_->position;
    }
}

// The partition's marked records, written to a file of their own while the partition is
// still at hand, so that merging reads only them.
Partition SpillFinder::Impl::reportedOf(const Partition &part,
                                        const std::vector<std::uint64_t> &marks,
                                        std::size_t readBuffer) const {
    RecordWriter reported(folder, bufferFor(qint64(threadShare()), 1));
    RecordReader records(part, readBuffer);
    std::uint64_t position = 0;
    QByteArrayView text;
    for (std::uint64_t record = 0; reported.records() < part.rows && records.next(position, text);
         ++record)
        if ((marks[record / 64] >> (record % 64)) & 1)
            reported.add(position, text);
    Partition rows = reported.finish(part.level, part.hash);
    rows.rows = rows.records;
    return rows;
}

// Pairs a partition in a thread's table, leaving it the file of its reported records; or,
// when its values outgrow the table, splits it again and gives back the pieces.
std::vector<Partition> SpillFinder::Impl::pairOrSplit(Partition &part, ValueTable &table) const {
    const std::size_t readBuffer = bufferFor(qint64(threadShare()), 1);
    std::vector<std::uint64_t> marks(std::size_t(part.records / 64 + 1));
    const std::size_t marksBytes = marks.size() * 8;
    const std::size_t limit = partitionLimit();
    const std::size_t tableLimit = limit - std::min(limit, marksBytes);
    auto pairIn = [&](ValueTable &in) {
        std::fill(marks.begin(), marks.end(), 0); // of a try that did not fit
        return pair(part, in, marks, readBuffer);
    };
    table.reuse(tableLimit);
    const bool kept = table.keepsRoom();
    bool fits = pairIn(table);
    if (!fits && kept) {
        // What the partition before left in the table may have crowded this one out.
        table = ValueTable(tableLimit);
        fits = pairIn(table);
    }
    if (!fits) {
        // Splitting helps values that a hash can tell apart, and a partition whose marks
        // crowd out its table.
        if ((table.values() < 2 && marksBytes <= limit / 2) || part.level >= MaxLevel) {
            table.reuse(0); // its memory goes first
            ValueTable whole(SIZE_MAX);
            pairIn(whole);
        } else {
            const std::uint32_t parts =
                partsFor(inMemoryNeed(qint64(part.records), qint64(part.textBytes)), threadShare());
            Scatter again(folder, parts, part.level + 1, part.hash,
                          bufferFor(qint64(threadShare()), parts));
            RecordReader records(part, readBuffer);
            std::uint64_t position = 0;
            QByteArrayView text;
            while (records.next(position, text))
                again.add(position, text);
            part.file.reset();
            std::vector<Partition> pieces = again.finish();
            // Copies that no hash parts (of one value, mostly) are not split again.
            if (pieces.size() == 1)
                pieces.front().level = MaxLevel;
            return pieces;
        }
    }
    if (part.rows > 0)
        part = reportedOf(part, marks, readBuffer);
    return {};
}

// Pairs the partitions on the threads, each taking the next as it frees up, and splits those
// too large; gives back those with rows.
std::vector<Partition> SpillFinder::Impl::pairAll(std::vector<Partition> todo,
                                                  const Progress &progress) const {
    std::reverse(todo.begin(), todo.end()); // taken from the back: in order
    std::vector<Partition> paired;
    std::size_t busy = 0, done = 0;
    // Shown before the threads start, which may finish a few partitions before a first turn.
    if (progress)
        progress(0, qsizetype(todo.size()));
    workers::Crew crew;
    crew.start(std::clamp<std::size_t>(todo.size(), 1, threads), [&](size_t) {
        ValueTable table(partitionLimit());
        for (;;) {
            Partition part;
            {
                auto lock = crew.lock();
                crew.waitUntil(lock, [&] { return !todo.empty() || busy == 0; });
                if (todo.empty())
                    return;
                part = std::move(todo.back());
                todo.pop_back();
                ++busy;
            }
            std::vector<Partition> pieces = pairOrSplit(part, table);
            auto lock = crew.lock();
            --busy;
            if (pieces.empty()) {
                ++done;
                if (part.rows > 0)
                    paired.push_back(std::move(part));
            }
            for (Partition &piece : pieces)
                todo.push_back(std::move(piece));
            crew.notify();
        }
    });
    auto lock = crew.lock();
    while (!crew.finished()) {
        if (progress) {
            const std::size_t total = done + busy + todo.size();
            const std::size_t now = done;
            lock.unlock();
            progress(qsizetype(now), qsizetype(total));
            lock.lock();
        }
        crew.waitFor(lock, workers::QuietPoll);
    }
    lock.unlock();
    crew.rethrowFailure();
    if (progress)
        progress(qsizetype(done), qsizetype(done));
    return paired;
}

void SpillFinder::finish(const RowSink &sink, const Progress &progress) {
    std::vector<Partition> todo = d_->scatter->finish();
    d_->scatter.reset();
    const std::vector<Partition> paired = d_->pairAll(std::move(todo), progress);

    // The reported copies of all partitions, merged by position.
    std::vector<std::unique_ptr<RecordReader>> readers;
    using Next = std::pair<std::uint64_t, std::size_t>; // position, reader
    std::priority_queue<Next, std::vector<Next>, std::greater<>> heap;
    const std::size_t mergeBuffer = bufferFor(qint64(d_->bufferShare()), paired.size());
    for (const Partition &part : paired) {
        const std::size_t r = readers.size();
        readers.push_back(std::make_unique<RecordReader>(part, mergeBuffer));
        std::uint64_t position = 0;
        if (readers[r]->head(position))
            heap.push({position, r});
    }
    TextStore rows;
    while (!heap.empty()) {
        const std::size_t r = heap.top().second;
        heap.pop();
        rows.appendBytes(readers[r]->body());
        std::uint64_t position = 0;
        if (readers[r]->head(position))
            heap.push({position, r});
        if (rows.textBytes() >= RowBatchBytes) {
            sink(rows);
            rows.clear();
        }
    }
    if (!rows.isEmpty())
        sink(rows);
}
