#pragma once

// The partition files of a spilled search: texts dealt by hash with their positions, read
// back in order, and their reported records once paired.
#include "engine/find/FinderRules.h"
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
// numbers in 7-bit groups. Once paired, a partition is the file of its reported records.
struct Partition {
    std::unique_ptr<TemporaryFile> file;
    std::uint64_t records = 0;
    std::uint64_t textBytes = 0;
    std::uint64_t rows = 0;
    int level = 0;
    FindHash hash = nullptr;
};

// Writes the records of one partition through a buffer. The file is made only once
// something is written.
class RecordWriter {
public:
    RecordWriter(QString folder, std::size_t buffer)
        : folder_(std::move(folder)), buffer_(buffer) {}

    std::uint64_t records() const { return part_.records; }

    void add(std::uint64_t position, QByteArrayView text) {
        if (bytes_.capacity() == 0)
            bytes_.reserve(buffer_ + RecordHead);
        putNumber(bytes_, position - last_);
        putNumber(bytes_, std::uint64_t(text.size()));
        last_ = position;
        ++part_.records;
        part_.textBytes += std::uint64_t(text.size());
        // The buffer never grows: with many partitions, each keeping room for its longest
        // text would hold many times the budget. A text it cannot take goes straight on.
        if (bytes_.size() + std::size_t(text.size()) > bytes_.capacity()) {
            flush();
            if (std::size_t(text.size()) > bytes_.capacity()) {
                write(text);
                return;
            }
        }
        bytes_.insert(bytes_.end(), text.begin(), text.end());
        if (bytes_.size() >= buffer_)
            flush();
    }

    // No file when nothing was written.
    Partition finish(int level, FindHash hash) {
        flush();
        part_.level = level;
        part_.hash = hash;
        return std::move(part_);
    }

private:
    void flush() {
        if (bytes_.empty())
            return;
        write(QByteArrayView(bytes_.data(), qsizetype(bytes_.size())));
        bytes_.clear();
    }
    void write(QByteArrayView bytes) {
        if (!part_.file)
            part_.file = std::make_unique<TemporaryFile>(folder_);
        part_.file->append(bytes);
    }

    QString folder_;
    std::size_t buffer_;
    Partition part_;
    std::vector<char> bytes_;
    std::uint64_t last_ = 0;
};

// Deals texts with their positions into partitions by the hash of one level, each through
// a buffer of its own.
class Scatter {
public:
    Scatter(QString folder, std::uint32_t parts, int level, FindHash hash, std::size_t buffer)
        : folder_(std::move(folder)), level_(level), hash_(hash) {
        outs_.reserve(parts);
        for (std::uint32_t p = 0; p < parts; ++p)
            outs_.emplace_back(folder_, buffer);
    }

    std::uint32_t parts() const { return std::uint32_t(outs_.size()); }

    void add(std::uint64_t position, QByteArrayView text) {
        outs_[partOfHash(hashAt(text, level_, hash_), parts())].add(position, text);
    }

    std::vector<Partition> finish() {
        std::vector<Partition> parts;
        for (RecordWriter &out : outs_) {
            Partition part = out.finish(level_, hash_);
            if (part.file)
                parts.push_back(std::move(part));
        }
        return parts;
    }

private:
    QString folder_;
    int level_;
    FindHash hash_;
    std::vector<RecordWriter> outs_;
};

// Reads the records of a partition in order.
class RecordReader {
public:
    RecordReader(const Partition &part, std::size_t buffer)
        : file_(*part.file), end_(part.file->size()), base_(buffer), buffer_(buffer) {}

    // With refill false, stops rather than move the buffer, so that the texts handed out
    // before stay valid.
    bool next(std::uint64_t &position, QByteArrayView &text, bool refill = true) {
        if (refill) {
            if (!head(position))
                return false;
            text = body();
            return true;
        }
        if (filled_ == at_)
            return false;
        const std::size_t start = at_;
        std::uint64_t step = 0, size = 0;
        if (!number(step) || !number(size) || filled_ - at_ < size) {
            at_ = start;
            return false;
        }
        position_ += step;
        position = position_;
        text = QByteArrayView(buffer_.data() + at_, qsizetype(size));
        at_ += size;
        return true;
    }

    // The position of the next record, whose text body() then reads: so merging holds the
    // texts of the records at hand one at a time.
    bool head(std::uint64_t &position) {
        if (fill(RecordHead) == 0)
            return false;
        std::uint64_t step = 0;
        if (!number(step) || !number(size_))
            throw TemporaryFailure(QStringLiteral("Input past end of file"));
        position_ += step;
        position = position_;
        return true;
    }
    QByteArrayView body() {
        if (fill(size_) < size_)
            throw TemporaryFailure(QStringLiteral("Input past end of file"));
        const QByteArrayView text(buffer_.data() + at_, qsizetype(size_));
        at_ += size_;
        return text;
    }

private:
    // Makes at least need bytes ready where the file has them; tells how many are.
    std::size_t fill(std::size_t need) {
        if (filled_ - at_ >= need || offset_ == end_) {
            if (filled_ == at_ && buffer_.size() > base_) {
                std::vector<char>().swap(buffer_); // all read: no room kept for a long text
                filled_ = at_ = 0;
            }
            return filled_ - at_;
        }
        std::memmove(buffer_.data(), buffer_.data() + at_, filled_ - at_);
        filled_ -= at_;
        at_ = 0;
        // Room beyond the usual only while a longer text is read: the readers of a merge are
        // many, and each keeping such room would hold many times the budget.
        const std::size_t room = std::max(need, base_);
        if (buffer_.size() != room) {
            buffer_.resize(room);
            buffer_.shrink_to_fit();
        }
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
    std::size_t base_;
    std::vector<char> buffer_;
    std::size_t at_ = 0;
    std::size_t filled_ = 0;
    std::uint64_t position_ = 0;
    std::uint64_t size_ = 0; // of the text after the last head
};

} // namespace spill
