#pragma once

// The table a partition of a spilled search is paired in.
#include <QByteArrayView>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <memory>
#include <vector>

namespace spill {
// One copy of each value of a partition and, while its latest copy waits for a partner, that
// copy's record: a copy that finds its partner waiting marks it, as findDuplicates pairs.
class ValueTable {
public:
    explicit ValueTable(std::size_t limit)
        : limit_(limit), chunkSize_(std::clamp<std::size_t>(limit / 16 / 8 * 8, 256, MaxChunk)) {
        slots_.resize(16);
    }

    // Empties the table for the next partition, keeping its slots and its room for texts
    // as far as the new limit allows: the pages are not faulted in again.
    void reuse(std::size_t limit) {
        limit_ = limit;
        std::erase_if(chunks_, [&](const Chunk &chunk) { return chunk.size != chunkSize_; });
        chunkBytes_ = chunks_.size() * chunkSize_;
        chunkAt_ = 0;
        if (!fits(0))
            std::vector<Slot>(16).swap(slots_);
        std::fill(slots_.begin(), slots_.end(), Slot{});
        used_ = 0;
        free_ = nullptr;
        left_ = 0;
    }

    std::size_t values() const { return used_; }
    // Whether it kept room from the partition before.
    bool keepsRoom() const { return slots_.size() > 16 || !chunks_.empty(); }

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
                if ((used_ + 1) * 4 > slots_.size() * 3 && !fits(slots_.size() * 32))
                    return false;
                if (left_ < size && !(chunkAt_ < chunks_.size() && size <= chunkSize_) &&
                    !fits(std::max(size, chunkSize_)))
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
    // Whether more bytes stay within the limit, once the kept chunks this partition has not
    // used are let go.
    bool fits(std::size_t more) {
        while (held() + more > limit_ && chunkAt_ < chunks_.size())
            dropUnusedChunk();
        return held() + more <= limit_;
    }
    void dropUnusedChunk() {
        chunkBytes_ -= chunks_.back().size;
        chunks_.pop_back();
    }

    Entry *allocate(std::size_t size) {
        if (left_ < size) {
            // The chunks kept from the partition before first, all of one size.
            if (chunkAt_ < chunks_.size() && size <= chunkSize_) {
                free_ = reinterpret_cast<char *>(chunks_[chunkAt_++].words.get());
                left_ = chunkSize_;
            } else {
                // A text longer than a chunk, or no kept chunk left: those left go first.
                while (chunkAt_ < chunks_.size())
                    dropUnusedChunk();
                const std::size_t chunk = std::max(size, chunkSize_);
                chunks_.push_back(
                    {std::make_unique_for_overwrite<std::uint64_t[]>(chunk / 8), chunk});
                chunkAt_ = chunks_.size();
                chunkBytes_ += chunk;
                free_ = reinterpret_cast<char *>(chunks_.back().words.get());
                left_ = chunk;
            }
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
    struct Chunk {
        std::unique_ptr<std::uint64_t[]> words;
        std::size_t size;
    };
    std::vector<Chunk> chunks_;
    std::size_t chunkAt_ = 0; // the next kept chunk to fill
    std::size_t chunkBytes_ = 0;
    char *free_ = nullptr;
    std::size_t left_ = 0;
};
} // namespace spill
