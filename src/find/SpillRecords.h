#pragma once

// The partition files of a spilled search: texts dealt by hash with their positions, read
// back in order, and their reported records once paired.
#include "FinderRules.h"
#include "SpillFile.h"

#include <xxhash.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <vector>

namespace spill {
// Below this a write or read buffer costs more in system calls than it saves in memory.
constexpr std::size_t MinBuffer = 4096;
constexpr std::size_t MaxBuffer = std::size_t(1) << 20;
// The most a record's two numbers take, in 7-bit groups.
constexpr std::size_t RecordHead = 2 * 10;

// Each level of splitting hashes with a seed of its own, so texts that fell together at one
// level part at the next. A hash put in by a test is varied by the level alone.
inline std::uint64_t hashAt(QByteArrayView text, int level, FindHash hash) {
    if (hash)
        return hash(text) ^ (std::uint64_t(level) * 0x9E3779B97F4A7C15);
    return XXH3_64bits_withSeed(text.data(), std::size_t(text.size()), XXH64_hash_t(level));
}

inline std::size_t bufferFor(qint64 share, std::size_t count) {
    return std::clamp(std::size_t(share) / std::max<std::size_t>(count, 1), MinBuffer, MaxBuffer);
}

inline void putNumber(std::vector<char> &out, std::uint64_t value) {
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
    FindHash hash = nullptr;
};

// Deals texts with their positions into partitions by the hash of one level, each through
// a buffer of its own. A file is made for a partition only once something falls into it.
class Scatter {
public:
    Scatter(QString folder, std::uint32_t parts, int level, FindHash hash, std::size_t buffer)
        : folder_(std::move(folder)), level_(level), hash_(hash), buffer_(buffer), outs_(parts) {}

    std::uint32_t parts() const { return std::uint32_t(outs_.size()); }

    void add(std::uint64_t position, QByteArrayView text) {
        Out &out = outs_[partOfHash(hashAt(text, level_, hash_), parts())];
        if (out.bytes.capacity() == 0)
            out.bytes.reserve(buffer_ + RecordHead);
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
                out.part.hash = hash_;
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
    FindHash hash_;
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
        if ((refill ? fill(RecordHead) : filled_ - at_) == 0)
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
} // namespace spill
