#include "ChunkIndex.h"

#include <new>

ChunkIndex::ChunkIndex() : starts_{std::numeric_limits<qsizetype>::max()} {}

TextChunk &ChunkIndex::own(std::size_t chunk) {
    std::shared_ptr<TextChunk> &c = chunks_[chunk];
    if (c.use_count() > 1)
        c = std::make_shared<TextChunk>(*c);
    return *c;
}

void ChunkIndex::reserve(std::size_t chunks, qsizetype items) {
    TextChunk::growFor(chunks_, chunks);
    TextChunk::growFor(starts_, chunks);
    if (!regular_)
        TextChunk::growFor(pages_, std::size_t(items >> TextChunk::Shift) + 1);
}

void ChunkIndex::add(std::span<std::shared_ptr<TextChunk>> chunks, const ChunkIndex *from) {
    // The one short chunk the shared chunks may follow, or the one among them.
    if (from && lastChunkSize() < TextChunk::Items) {
        gapAt_ = size_;
        gap_ = TextChunk::Items - lastChunkSize();
    } else if (from && from->gap_ > 0) {
        gapAt_ = size_ + from->gapAt_;
        gap_ = from->gap_;
    }
    for (auto &chunk : chunks) {
        const qsizetype items = chunk->size();
        starts_.insert(starts_.end() - 1, size_);
        chunks_.push_back(std::move(chunk));
        size_ += items;
    }
    extendPages();
}

void ChunkIndex::extendPages() {
    for (std::size_t page = pages_.size();
         !regular_ && page << TextChunk::Shift < std::size_t(size_); ++page) {
        std::size_t c = pages_.back();
        while (starts_[c + 1] <= qsizetype(page << TextChunk::Shift))
            ++c;
        pages_.push_back(std::uint32_t(c));
    }
}

void ChunkIndex::prepareRemove(qsizetype index) {
    // The page table is first built by the remove that leaves a chunk short.
    pages_.reserve((std::size_t(size_ - 1) + TextChunk::Items - 1) >> TextChunk::Shift);
    own(place(index).chunk);
}

void ChunkIndex::removed(Place p) {
    --size_;
    // Past a short chunk, items are found by page even when the last chunk is still full.
    regular_ = regular_ && p.chunk + 1 == chunks_.size() && gap_ == 0;
    if (chunks_[p.chunk]->size() == 0) {
        // The next chunk now begins where this one began.
        const bool lastChunk = p.chunk + 1 == chunks_.size();
        chunks_.erase(chunks_.begin() + std::ptrdiff_t(p.chunk));
        starts_.erase(starts_.begin() + std::ptrdiff_t(p.chunk) + (lastChunk ? 0 : 1));
    }
    renumberFrom(p.chunk);
    mergeSmall(std::min(p.chunk, chunks_.size() - 1));
}

// Keeps chunks from thinning out under many removals, so finding an item stays a step or
// two: a small chunk joins a neighbour it fits in.
void ChunkIndex::mergeSmall(std::size_t c) {
    if (chunks_.size() < 2 || chunks_[c]->size() >= TextChunk::Items / 4)
        return;
    if (c + 1 == chunks_.size() || chunks_[c]->size() + chunks_[c + 1]->size() > TextChunk::Items) {
        if (c == 0)
            return;
        --c; // join the previous one instead
    }
    if (chunks_[c]->size() + chunks_[c + 1]->size() > TextChunk::Items)
        return;
    try {
        const std::shared_ptr<TextChunk> next = chunks_[c + 1];
        TextChunk &into = own(c);
        into.bytes.reserve(into.bytes.size() + next->bufferBytes(0, next->size()));
        into.ends.reserve(into.ends.size() + next->size());
        into.aside.reserve(into.aside.size() + next->aside.size());
        into.appendRange(*next, 0, next->size());
    } catch (const std::bad_alloc &) {
        return; // a saving only
    }
    chunks_.erase(chunks_.begin() + std::ptrdiff_t(c) + 1);
    starts_.erase(starts_.begin() + std::ptrdiff_t(c) + 1);
    renumberFrom(c);
}

void ChunkIndex::renumberFrom(std::size_t c) {
    for (std::size_t k = c; k < chunks_.size(); ++k)
        starts_[k + 1] = k + 1 < chunks_.size() ? starts_[k] + chunks_[k]->size()
                                                : std::numeric_limits<qsizetype>::max();
    pages_.resize((std::size_t(size_) + TextChunk::Items - 1) >> TextChunk::Shift);
    std::size_t k = 0;
    for (std::size_t page = 0; page < pages_.size(); ++page) {
        while (starts_[k + 1] <= qsizetype(page << TextChunk::Shift))
            ++k;
        pages_[page] = std::uint32_t(k);
    }
}

ChunkIndex ChunkIndex::takeLast() {
    ChunkIndex last;
    last.chunks_.reserve(1);
    last.starts_.insert(last.starts_.begin(), 0);
    last.chunks_.push_back(chunks_.back());
    last.size_ = chunks_.back()->size();
    chunks_.pop_back();
    starts_.erase(starts_.end() - 2);
    size_ -= last.size_;
    return last;
}

std::size_t ChunkIndex::bytesAllocated() const {
    std::size_t sum = chunks_.capacity() * sizeof(std::shared_ptr<TextChunk>) +
                      starts_.capacity() * sizeof(qsizetype) +
                      pages_.capacity() * sizeof(std::uint32_t);
    for (const auto &c : chunks_)
        sum += c->bytesAllocated();
    return sum;
}
