#include "TextStoreFiller.h"

#include <algorithm>

void TextStore::Filler::open() {
    TextChunk *last = store_.index_.openLast();
    if (!last || last->ends.size() >= ChunkItems)
        return;
    TextChunk &c = *last;
    chunk_ = &c;
    items_ = c.ends.size();
    bytes_ = c.bytes.size();
    // Within the capacity: nothing moves.
    c.ends.resize(std::min<std::size_t>(ChunkItems, c.ends.capacity()));
    c.bytes.resize(c.bytes.capacity());
    base_ = c.bytes.data();
    out_ = base_ + bytes_;
    bytesEnd_ = base_ + c.bytes.size();
    ends_ = c.ends.data() + items_;
    endsEnd_ = c.ends.data() + c.ends.size();
}

void TextStore::Filler::settle() {
    if (!chunk_)
        return;
    const auto items = std::size_t(ends_ - chunk_->ends.data());
    const auto bytes = std::size_t(out_ - base_);
    chunk_->ends.resize(items);
    chunk_->bytes.resize(bytes);
    store_.index_.grew(qsizetype(items - items_));
    store_.textBytes_ += bytes - bytes_;
    chunk_ = nullptr;
    base_ = out_ = bytesEnd_ = nullptr;
    ends_ = endsEnd_ = nullptr;
}
