#include "SpillFinder.h"

#include "SpillRecords.h"

#include <xxhash.h>

#include <algorithm>
#include <cstring>
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

// One copy of each value of a partition and, while its latest copy waits for a partner, that
// copy's record: a copy that finds its partner waiting marks it, as findDuplicates pairs.
class ValueTable {
public:
    explicit ValueTable(std::size_t limit)
        : limit_(limit), chunkSize_(std::clamp<std::size_t>(limit / 16 / 8 * 8, 256, MaxChunk)) {
        slots_.resize(16);
    }

    std::size_t values() const { return used_; }

    void prefetch([[maybe_unused]] std::uint64_t hash) const {
#if defined(__GNUC__) || defined(__clang__)
        __builtin_prefetch(&slots_[hash & (slots_.size() - 1)]);
#endif
    }

    // False when the table would outgrow its limit.
    bool visit(std::uint64_t record, std::uint64_t hash, QByteArrayView text,
               std::vector<std::uint64_t> &marks, std::uint64_t &rows) {
        const std::size_t mask = slots_.size() - 1;
        for (std::size_t s = hash & mask;; s = (s + 1) & mask) {
            Slot &slot = slots_[s];
            if (!slot.entry) {
                const std::size_t size = EntryHead + (std::size_t(text.size()) + 7) / 8 * 8;
                if ((used_ + 1) * 4 > slots_.size() * 3 && held() + slots_.size() * 32 > limit_)
                    return false;
                if (left_ < size && held() + std::max(size, chunkSize_) > limit_)
                    return false;
                Entry *entry = allocate(size);
                entry->waiting = record + 1;
                entry->size = std::uint64_t(text.size());
                std::memcpy(entry + 1, text.data(), std::size_t(text.size()));
                slot = {hash, entry};
                if (++used_ * 4 > slots_.size() * 3)
                    grow();
                return true;
            }
            if (slot.hash != hash || slot.entry->size != std::uint64_t(text.size()) ||
                std::memcmp(slot.entry + 1, text.data(), std::size_t(text.size())) != 0)
                continue;
            if (slot.entry->waiting) {
                const std::uint64_t earlier = slot.entry->waiting - 1;
                marks[earlier / 64] |= std::uint64_t(1) << (earlier % 64);
                ++rows;
                slot.entry->waiting = 0;
            } else {
                slot.entry->waiting = record + 1;
            }
            return true;
        }
    }

private:
    struct Entry {
        std::uint64_t waiting; // the waiting record plus one, or 0
        std::uint64_t size;    // the text follows
    };
    static constexpr std::size_t EntryHead = sizeof(Entry);
    static constexpr std::size_t MaxChunk = std::size_t(256) << 10;
    struct Slot {
        std::uint64_t hash = 0;
        Entry *entry = nullptr;
    };

    std::size_t held() const {
        return chunkBytes_ + slots_.size() * sizeof(Slot);
    }

    Entry *allocate(std::size_t size) {
        if (left_ < size) {
            const std::size_t chunk = std::max(size, chunkSize_);
            chunks_.push_back(std::make_unique<std::uint64_t[]>(chunk / 8));
            chunkBytes_ += chunk;
            free_ = reinterpret_cast<char *>(chunks_.back().get());
            left_ = chunk;
        }
        auto *entry = reinterpret_cast<Entry *>(free_);
        free_ += size;
        left_ -= size;
        return entry;
    }

    void grow() {
        std::vector<Slot> old(slots_.size() * 2);
        old.swap(slots_);
        const std::size_t mask = slots_.size() - 1;
        for (const Slot &slot : old) {
            if (!slot.entry)
                continue;
            std::size_t s = slot.hash & mask;
            while (slots_[s].entry)
                s = (s + 1) & mask;
            slots_[s] = slot;
        }
    }

    std::size_t limit_;
    std::size_t chunkSize_;
    std::vector<Slot> slots_;
    std::size_t used_ = 0;
    std::vector<std::unique_ptr<std::uint64_t[]>> chunks_;
    std::size_t chunkBytes_ = 0;
    char *free_ = nullptr;
    std::size_t left_ = 0;
};

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
    // What pairing a partition may hold; the rest is for reading, writing and the marks.
    std::size_t partitionLimit() const { return std::size_t(budget / 8 * PairingEighths); }
    std::size_t bufferShare() const { return std::size_t(budget / BufferFraction); }

    std::uint32_t partsFor(qint64 need) const {
        // A table that stays within the processor's cache is looked up several times faster.
        const std::size_t target = std::min(partitionLimit(), CachedTable);
        const auto wanted = std::uint64_t(need) * TableGrowth / target + 1;
        const std::uint64_t affordable =
            std::min<std::uint64_t>(bufferShare() / MinBuffer, MaxParts);
        return std::uint32_t(
            std::clamp<std::uint64_t>(wanted, 2, std::max<std::uint64_t>(affordable, 2)));
    }

    std::unique_ptr<Scatter> scatter;
    std::uint64_t position = 0;
};

SpillFinder::SpillFinder(const QString &folder, qint64 budget, qint64 expectedNeed, FindHash hash)
    : d_(std::make_unique<Impl>()) {
    d_->folder = folder;
    d_->budget = std::max<qint64>(budget, 1024);
    const std::uint32_t parts = d_->partsFor(expectedNeed);
    d_->scatter = std::make_unique<Scatter>(folder, parts, 0, hash,
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

void SpillFinder::finish(const RowSink &sink, const Progress &progress) {
    std::vector<Partition> todo = d_->scatter->finish();
    d_->scatter.reset();
    std::reverse(todo.begin(), todo.end());
    std::vector<Partition> paired;
    const std::size_t readBuffer = bufferFor(qint64(d_->bufferShare()), 1);

    while (!todo.empty()) {
        if (progress)
            progress(qsizetype(paired.size()), qsizetype(paired.size() + todo.size()));
        Partition part = std::move(todo.back());
        todo.pop_back();
        std::vector<std::uint64_t> marks(std::size_t(part.records / 64 + 1));
        const std::size_t marksBytes = marks.size() * 8;
        const std::size_t limit = d_->partitionLimit();
        bool split = false;
        for (bool bounded = true;; bounded = false) {
            ValueTable table(bounded ? limit - std::min(limit, marksBytes) : SIZE_MAX);
            if (pair(part, table, marks, readBuffer))
                break;
            std::fill(marks.begin(), marks.end(), 0);
            // Splitting helps only values that a hash can tell apart.
            if (table.values() >= 2 && part.level < MaxLevel) {
                split = true;
                break;
            }
        }
        if (split) {
            const std::uint32_t parts =
                d_->partsFor(inMemoryNeed(qint64(part.records), qint64(part.textBytes)));
            Scatter again(d_->folder, parts, part.level + 1, part.hash,
                          bufferFor(qint64(d_->bufferShare()), parts));
            RecordReader records(part, readBuffer);
            std::uint64_t position = 0;
            QByteArrayView text;
            while (records.next(position, text))
                again.add(position, text);
            part.file.reset();
            for (Partition &piece : again.finish())
                todo.push_back(std::move(piece));
            continue;
        }
        if (part.rows == 0)
            continue; // nothing to report: the file goes at once
        part.marksAt = part.file->size();
        part.file->append(
            QByteArrayView(reinterpret_cast<const char *>(marks.data()), qsizetype(marksBytes)));
        paired.push_back(std::move(part));
    }
    if (progress)
        progress(qsizetype(paired.size()), qsizetype(paired.size()));

    // The reported copies of all partitions, merged by position.
    std::vector<std::unique_ptr<MarkedReader>> readers;
    using Next = std::pair<std::uint64_t, std::size_t>; // position, reader
    std::priority_queue<Next, std::vector<Next>, std::greater<>> heap;
    const std::size_t mergeBuffer = bufferFor(qint64(d_->bufferShare()), paired.size());
    for (const Partition &part : paired) {
        readers.push_back(std::make_unique<MarkedReader>(part, mergeBuffer));
        if (readers.back()->next())
            heap.push({readers.back()->position(), readers.size() - 1});
    }
    TextStore rows;
    while (!heap.empty()) {
        const std::size_t r = heap.top().second;
        heap.pop();
        rows.appendBytes(readers[r]->text());
        if (readers[r]->next())
            heap.push({readers[r]->position(), r});
        if (rows.textBytes() >= RowBatchBytes) {
            sink(rows);
            rows.clear();
        }
    }
    if (!rows.isEmpty())
        sink(rows);
}
