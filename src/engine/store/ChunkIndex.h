#pragma once

#include "TextChunk.h"

#include <QtGlobal>

#include <algorithm>
#include <cstdint>
#include <limits>
#include <memory>
#include <span>
#include <vector>

// The chunks of a TextStore in order, shared with the store's copies, and which chunk holds
// an item. Every chunk but the last is full, as after appends only (regular), but for one
// short chunk that may end at gapAt_, the gap_ items it lacks: item i is in chunk
// i / Items, or (i + gap_) / Items from gapAt_ on. Once removals leave other chunks short,
// a page table gives the chunk of every Items-th item, a step or two before the one sought.
class ChunkIndex {
public:
    ChunkIndex();

    struct Place {
        std::size_t chunk;
        std::uint32_t item;
    };
    Place place(qsizetype index) const {
        if (regular_) [[likely]] {
            const auto slot = std::size_t(index + (index >= gapAt_ ? gap_ : 0));
            return {slot >> TextChunk::Shift, std::uint32_t(slot) & (TextChunk::Items - 1)};
        }
        std::size_t c = pages_[std::size_t(index) >> TextChunk::Shift];
        while (starts_[c + 1] <= index)
            ++c;
        return {c, std::uint32_t(index - starts_[c])};
    }
    // Calls f(chunk, from, to) for each run of the items [first, first + count) in one chunk.
    template <class F> void forRuns(qsizetype first, qsizetype count, F &&f) const {
        for (qsizetype i = first; i < first + count;) {
            const Place p = place(i);
            const TextChunk &chunk = *chunks_[p.chunk];
            const auto to =
                std::uint32_t(std::min<qsizetype>(chunk.size(), p.item + first + count - i));
            f(chunk, p.item, to);
            i += to - p.item;
        }
    }

    qsizetype size() const { return size_; }
    const std::vector<std::shared_ptr<TextChunk>> &chunks() const { return chunks_; }
    const TextChunk &chunk(std::size_t c) const { return *chunks_[c]; }
    std::uint32_t lastChunkSize() const { return chunks_.empty() ? 0 : chunks_.back()->size(); }
    bool regular() const { return regular_; }

    // The chunk, copied first if it is shared.
    TextChunk &own(std::size_t chunk);
    // The last chunk, when items appended to it in place stay where regular() finds them:
    // every other chunk is full and no copy shares it.
    TextChunk *openLast() {
        return !chunks_.empty() && regular_ && chunks_.back().use_count() == 1
                   ? chunks_.back().get()
                   : nullptr;
    }

    // Whether append(other) shares the other's chunks: from a chunk's boundary, or after a
    // short chunk when the other is large; so long as one short chunk at most comes before
    // the last.
    bool sharesOnAppend(const ChunkIndex &other) const {
        const bool boundary = lastChunkSize() == TextChunk::Items;
        return regular_ && other.regular_ &&
               int(gap_ > 0) + int(other.gap_ > 0) + int(!boundary) <= 1 &&
               (boundary || other.size() >= ShareFrom);
    }
    // Makes room in the tables for this many more chunks and items, so that adding them
    // cannot fail.
    void reserve(std::size_t chunks, qsizetype items);
    // After the last chunk took this many items in place.
    void grew(qsizetype items) {
        size_ += items;
        if (!regular_) [[unlikely]]
            extendPages();
    }
    // Adds the chunks after the others, room made; from: the index whose chunks they all
    // are, shared as sharesOnAppend() allows.
    void add(std::span<std::shared_ptr<TextChunk>> chunks, const ChunkIndex *from = nullptr);
    // Makes every allocation removing an item needs.
    void prepareRemove(qsizetype index);
    // After the item at p left its chunk.
    void removed(Place p);
    // Moves the last chunk out into an index of its own.
    ChunkIndex takeLast();

    // The chunks and the tables.
    std::size_t bytesAllocated() const;

private:
    static constexpr qsizetype ShareFrom = 8 * TextChunk::Items;
    void extendPages();
    // After chunks changed sizes or were removed from c on.
    void renumberFrom(std::size_t c);
    void mergeSmall(std::size_t c);

    std::vector<std::shared_ptr<TextChunk>> chunks_;
    // First item of each chunk, then a sentinel past every index.
    std::vector<qsizetype> starts_;
    // The chunk holding item p * Items, for each p; kept only while not regular_.
    std::vector<std::uint32_t> pages_;
    qsizetype size_ = 0;
    bool regular_ = true;
    qsizetype gapAt_ = std::numeric_limits<qsizetype>::max();
    qsizetype gap_ = 0;
};
