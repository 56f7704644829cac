#include "SpillFinder.h"

#include "SpillFile.h"

#include <xxhash.h>

#include <algorithm>
#include <cstring>
#include <queue>
#include <vector>

namespace {
// Below this a write or read buffer costs more in system calls than it saves in memory.
constexpr std::size_t MinBuffer = 4096;
constexpr std::size_t MaxBuffer = std::size_t(1) << 20;
// Splitting again stops here: texts that still fall together are equal or collide.
constexpr int MaxLevel = 8;
constexpr std::size_t CachedTable = std::size_t(16) << 20;
// Files held open at once by one split; a list that would need more is split again.
constexpr std::uint64_t MaxParts = 1024;

// Each level of splitting hashes with a seed of its own, so texts that fell together at one
// level part at the next.
std::uint64_t hashAt(QByteArrayView text, int level) {
    return XXH3_64bits_withSeed(text.data(), std::size_t(text.size()), XXH64_hash_t(level));
}

std::size_t bufferFor(qint64 share, std::size_t count) {
    return std::clamp(std::size_t(share) / std::max<std::size_t>(count, 1), MinBuffer, MaxBuffer);
}

void putNumber(std::vector<char> &out, std::uint64_t value) {
    for (; value >= 0x80; value >>= 7)
        out.push_back(char(value | 0x80));
    out.push_back(char(value));
}

// A partition file: records of (position since the record before, text size, text), the
// numbers in 7-bit groups; once paired, the marks of the reported records after them.
struct Partition {
    std::unique_ptr<TemporaryFile> file;
    std::uint64_t records = 0;
    std::uint64_t textBytes = 0;
    std::uint64_t rows = 0;
    std::uint64_t marksAt = 0;
    int level = 0;
};

// Deals texts with their positions into partitions by the hash of one level, each through
// a buffer of its own. A file is made for a partition only once something falls into it.
class Scatter {
public:
    Scatter(QString folder, std::uint32_t parts, int level, std::size_t buffer)
        : folder_(std::move(folder)), level_(level), buffer_(buffer), outs_(parts) {}

    std::uint32_t parts() const { return std::uint32_t(outs_.size()); }

    void add(std::uint64_t position, QByteArrayView text) {
        Out &out = outs_[partOfHash(hashAt(text, level_), parts())];
        if (out.bytes.capacity() == 0)
            out.bytes.reserve(buffer_ + 20);
        putNumber(out.bytes, position - out.last);
        putNumber(out.bytes, std::uint64_t(text.size()));
        out.bytes.insert(out.bytes.end(), text.begin(), text.end());
        out.last = position;
        ++out.part.records;
        out.part.textBytes += std::uint64_t(text.size());
        if (out.bytes.size() >= buffer_)
            flush(out);
    }

    std::vector<Partition> finish() {
        std::vector<Partition> parts;
        for (Out &out : outs_) {
            flush(out);
            if (out.part.file) {
                out.part.level = level_;
                parts.push_back(std::move(out.part));
            }
        }
        return parts;
    }

private:
    struct Out {
        Partition part;
        std::vector<char> bytes;
        std::uint64_t last = 0;
    };
    void flush(Out &out) {
        if (out.bytes.empty())
            return;
        if (!out.part.file)
            out.part.file = std::make_unique<TemporaryFile>(folder_);
        out.part.file->append(QByteArrayView(out.bytes.data(), qsizetype(out.bytes.size())));
        out.bytes.clear();
    }

    QString folder_;
    int level_;
    std::size_t buffer_;
    std::vector<Out> outs_;
};

// Reads the records of a partition in order.
class RecordReader {
public:
    RecordReader(const Partition &part, std::size_t buffer)
        : file_(*part.file), end_(part.marksAt ? part.marksAt : part.file->size()),
          buffer_(buffer) {}

    // With refill false, stops rather than move the buffer, so that the texts handed out
    // before stay valid.
    bool next(std::uint64_t &position, QByteArrayView &text, bool refill = true) {
        if ((refill ? fill(20) : filled_ - at_) == 0)
            return false;
        const std::size_t start = at_;
        std::uint64_t step = 0, size = 0;
        if (!number(step) || !number(size) || (refill ? fill(size) : filled_ - at_) < size) {
            if (!refill) {
                at_ = start;
                return false;
            }
            throw TemporaryFailure(QStringLiteral("Input past end of file"));
        }
        position_ += step;
        position = position_;
        text = QByteArrayView(buffer_.data() + at_, qsizetype(size));
        at_ += size;
        return true;
    }

private:
    // Makes at least need bytes ready where the file has them; tells how many are.
    std::size_t fill(std::size_t need) {
        if (filled_ - at_ >= need || offset_ == end_)
            return filled_ - at_;
        std::memmove(buffer_.data(), buffer_.data() + at_, filled_ - at_);
        filled_ -= at_;
        at_ = 0;
        if (buffer_.size() < need)
            buffer_.resize(need);
        const auto want =
            std::size_t(std::min<std::uint64_t>(buffer_.size() - filled_, end_ - offset_));
        const std::size_t got = file_.readAt(offset_, buffer_.data() + filled_, want);
        offset_ += got;
        filled_ += got;
        if (got < want)
            offset_ = end_; // the file got shorter under us: what is there is read
        return filled_;
    }
    bool number(std::uint64_t &value) {
        value = 0;
        for (int shift = 0; at_ < filled_ && shift < 64; shift += 7) {
            const auto byte = std::uint8_t(buffer_[at_++]);
            value |= std::uint64_t(byte & 0x7F) << shift;
            if (!(byte & 0x80))
                return true;
        }
        return false;
    }

    const TemporaryFile &file_;
    std::uint64_t offset_ = 0;
    std::uint64_t end_;
    std::vector<char> buffer_;
    std::size_t at_ = 0;
    std::size_t filled_ = 0;
    std::uint64_t position_ = 0;
};

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

// The reported records of one paired partition, in order.
class MarkedReader {
public:
    MarkedReader(const Partition &part, std::size_t buffer)
        : part_(part), records_(part, buffer), rowsLeft_(part.rows) {}

    std::uint64_t position() const { return position_; }
    QByteArrayView text() const { return text_; }

    bool next() {
        for (; rowsLeft_ > 0; ++record_) {
            if (!records_.next(position_, text_))
                break;
            if (marked(record_)) {
                ++record_;
                --rowsLeft_;
                return true;
            }
        }
        return false;
    }

private:
    bool marked(std::uint64_t record) {
        const std::uint64_t word = record / 64;
        if (word < wordsFrom_ || word >= wordsFrom_ + words_.size()) {
            words_.assign(
                std::size_t(std::min<std::uint64_t>(Words, part_.records / 64 + 1 - word)), 0);
            part_.file->readAt(part_.marksAt + word * 8, reinterpret_cast<char *>(words_.data()),
                               words_.size() * 8);
            wordsFrom_ = word;
        }
        return (words_[std::size_t(word - wordsFrom_)] >> (record % 64)) & 1;
    }

    static constexpr std::size_t Words = 512;
    const Partition &part_;
    RecordReader records_;
    std::uint64_t rowsLeft_;
    std::uint64_t record_ = 0;
    std::vector<std::uint64_t> words_;
    std::uint64_t wordsFrom_ = 0;
    std::uint64_t position_ = 0;
    QByteArrayView text_;
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
            hashes[n] = hashAt(texts[n], part.level);
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
    // The store's end offsets, the finder's hashes, index slots at three quarters full and
    // marks: about 28 bytes an item besides its text.
    return textBytes + items * 28;
}

struct SpillFinder::Impl {
    QString folder;
    qint64 budget;
    // What pairing a partition may hold; the rest is for reading, writing and the marks.
    std::size_t partitionLimit() const { return std::size_t(budget / 8 * 5); }
    std::size_t bufferShare() const { return std::size_t(budget / 4); }

    std::uint32_t partsFor(qint64 need) const {
        // A value in a partition's table takes about twice what it takes in memory; a table
        // that stays within the processor's cache is looked up several times faster.
        const std::size_t target = std::min(partitionLimit(), CachedTable);
        const auto wanted = std::uint64_t(need) * 2 / target + 1;
        const std::uint64_t affordable =
            std::min<std::uint64_t>(bufferShare() / MinBuffer, MaxParts);
        return std::uint32_t(
            std::clamp<std::uint64_t>(wanted, 2, std::max<std::uint64_t>(affordable, 2)));
    }

    std::unique_ptr<Scatter> scatter;
    std::uint64_t position = 0;
};

SpillFinder::SpillFinder(const QString &folder, qint64 budget, qint64 expectedNeed)
    : d_(std::make_unique<Impl>()) {
    d_->folder = folder;
    d_->budget = std::max<qint64>(budget, 1024);
    const std::uint32_t parts = d_->partsFor(expectedNeed);
    d_->scatter =
        std::make_unique<Scatter>(folder, parts, 0, bufferFor(qint64(d_->bufferShare()), parts));
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
            Scatter again(d_->folder, parts, part.level + 1,
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
        if (rows.textBytes() >= (1u << 20)) {
            sink(rows);
            rows.clear();
        }
    }
    if (!rows.isEmpty())
        sink(rows);
}
