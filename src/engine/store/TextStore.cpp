#include "TextStore.h"

#include <algorithm>
#include <cstring>
#include <limits>
#include <string>
#include <tuple>
#include <utility>

TextStore::TextStore() : starts_{std::numeric_limits<qsizetype>::max()} {}

QString TextStore::text(qsizetype index) const {
    return decode(bytes(index));
}

TextStore::Chunk &TextStore::own(std::size_t chunk) {
    std::shared_ptr<Chunk> &c = chunks_[chunk];
    if (c.use_count() > 1)
        c = std::make_shared<Chunk>(*c);
    return *c;
}

namespace {
// Grows by half rather than doubling, and never past most.
template <class V> void growFor(V &v, std::size_t extra, std::size_t most = SIZE_MAX) {
    const std::size_t needed = v.size() + extra;
    if (needed > v.capacity())
        v.reserve(std::max(needed, std::min(v.capacity() + v.capacity() / 2 + 64, most)));
}
} // namespace

void TextStore::appendBytesMakingRoom(QByteArrayView bytes) {
    if (!regular_) {
        TextStore one;
        one.appendBytes(bytes);
        return append(one);
    }
    // Room first, so that running out of memory changes nothing.
    const bool fresh = lastChunkSize() == 0 || lastChunkSize() == ChunkItems;
    std::shared_ptr<Chunk> chunk = fresh ? std::make_shared<Chunk>() : nullptr;
    if (!fresh)
        own(chunks_.size() - 1);
    Chunk &c = fresh ? *chunk : *chunks_.back();
    if (fresh && lastChunkSize() == ChunkItems) {
        // Appending line after line: the next chunk is about as large as the last.
        const std::size_t last = chunks_.back()->bytes.size();
        c.ends.reserve(ChunkItems);
        c.bytes.reserve(last + last / 16);
    } else if (fresh && expected_.first > 0) {
        // The first chunk's share of what is expected.
        const auto [items, bytes] = std::exchange(expected_, {0, 0});
        const qsizetype first = std::min<qsizetype>(items, ChunkItems);
        c.ends.reserve(std::size_t(first));
        c.bytes.reserve(std::size_t(bytes / items * first + bytes % items));
    }
    growFor(c.ends, 1, ChunkItems);
    if (bytes.size() > LongText)
        growFor(c.aside, 1);
    else
        growFor(c.bytes, std::size_t(bytes.size()));
    if (fresh) {
        growFor(chunks_, 1);
        growFor(starts_, 1);
    }
    c.appendText(bytes, nullptr);
    if (fresh) {
        starts_.insert(starts_.end() - 1, size_);
        chunks_.push_back(std::move(chunk));
    }
    ++size_;
    textBytes_ += std::size_t(bytes.size());
}

void TextStore::Filler::open() {
    if (store_.chunks_.empty() || !store_.regular_ || store_.chunks_.back().use_count() != 1)
        return;
    Chunk &c = *store_.chunks_.back();
    if (c.ends.size() >= ChunkItems)
        return;
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
    store_.size_ += qsizetype(items - items_);
    store_.textBytes_ += bytes - bytes_;
    chunk_ = nullptr;
    base_ = out_ = bytesEnd_ = nullptr;
    ends_ = endsEnd_ = nullptr;
}

template <class F> void TextStore::forRuns(qsizetype first, qsizetype count, F &&f) const {
    for (qsizetype i = first; i < first + count;) {
        const Place p = place(i);
        const Chunk &chunk = *chunks_[p.chunk];
        const auto to =
            std::uint32_t(std::min<qsizetype>(chunk.size(), p.item + first + count - i));
        f(chunk, p.item, to);
        i += to - p.item;
    }
}

TextStore::Lookup::Lookup(const TextStore &store) : store_(store) {
    buffers_.reserve(store.chunks_.size());
    for (const auto &chunk : store.chunks_)
        buffers_.push_back(chunk->bytes.data());
}

void TextStore::append(QStringView text) {
    appendBytes(encode(text));
}

void TextStore::append(const TextStore &other, const std::function<void()> &beforeChange) {
    if (other.isEmpty())
        return;
    if (isEmpty()) {
        TextStore shared = other;
        if (beforeChange)
            beforeChange();
        *this = std::move(shared);
        return;
    }
    const TextStore source = other; // keeps it unchanged if other is *this
    const bool shares = sharesOnAppend(source);
    // Otherwise the last chunk is filled first; it is changed in place only when nothing
    // shares it, and cut back should the memory run out.
    std::shared_ptr<Chunk> last;
    const bool fillLast = !shares && lastChunkSize() < ChunkItems;
    std::size_t lastItems = 0, lastBytes = 0, lastAsides = 0;
    if (fillLast) {
        own(chunks_.size() - 1);
        last = chunks_.back();
        lastItems = last->ends.size();
        lastBytes = last->bytes.size();
        lastAsides = last->aside.size();
    }
    std::vector<std::shared_ptr<Chunk>> added;
    try {
        if (shares)
            added = source.chunks_;
        else
            for (qsizetype done = 0; done < source.size();) {
                Chunk *target = last.get();
                if (!target || target->size() == ChunkItems) {
                    added.push_back(std::make_shared<Chunk>());
                    target = added.back().get();
                    last = nullptr;
                }
                const auto count = std::uint32_t(
                    std::min<qsizetype>(ChunkItems - target->size(), source.size() - done));
                std::size_t bufferBytes = 0;
                source.forRuns(done, count,
                               [&](const Chunk &from, std::uint32_t first, std::uint32_t to) {
                                   bufferBytes += from.bufferBytes(first, to);
                               });
                // Exact for a new chunk, growing by half for the last one.
                const std::size_t needed = target->bytes.size() + bufferBytes;
                if (needed > target->bytes.capacity())
                    target->bytes.reserve(target->bytes.empty()
                                              ? needed
                                              : std::max(needed, target->bytes.capacity() * 3 / 2));
                target->ends.reserve(target->ends.size() + count);
                source.forRuns(done, count,
                               [&](const Chunk &from, std::uint32_t first, std::uint32_t to) {
                                   target->appendRange(from, first, to);
                               });
                done += count;
            }
        growFor(chunks_, added.size());
        growFor(starts_, added.size());
        if (!regular_)
            growFor(pages_, std::size_t(source.size() >> ChunkShift) + 1);
        if (beforeChange)
            beforeChange();
    } catch (...) {
        if (fillLast)
            chunks_.back()->truncate(lastItems, lastBytes, lastAsides);
        throw;
    }
    // The one short chunk the shared chunks may follow, or the one among them.
    if (shares && lastChunkSize() < ChunkItems) {
        gapAt_ = size_;
        gap_ = ChunkItems - lastChunkSize();
    } else if (shares && source.gap_ > 0) {
        gapAt_ = size_ + source.gapAt_;
        gap_ = source.gap_;
    }
    for (auto &chunk : added) {
        starts_.insert(starts_.end() - 1, starts_.end()[-2] + chunks_.back()->size());
        chunks_.push_back(std::move(chunk));
    }
    size_ += source.size();
    textBytes_ += source.textBytes_;
    for (std::size_t page = pages_.size(); !regular_ && page << ChunkShift < std::size_t(size_);
         ++page) {
        std::size_t c = pages_.back();
        while (starts_[c + 1] <= qsizetype(page << ChunkShift))
            ++c;
        pages_.push_back(std::uint32_t(c));
    }
}

void TextStore::setText(qsizetype index, QStringView text) {
    const QByteArray encoded = encode(text);
    const Place p = place(index);
    Chunk &c = own(p.chunk);
    const auto old = std::size_t(c.text(p.item).size());
    c.set(p.item, encoded);
    textBytes_ = textBytes_ - old + std::size_t(encoded.size());
}

void TextStore::exchange(qsizetype a, qsizetype b) {
    if (a == b)
        return;
    const Place first = place(std::min(a, b));
    const Place second = place(std::max(a, b));
    Chunk &x = own(first.chunk);
    Chunk &y = own(second.chunk);
    const bool inBuffer = !(x.ends[first.item] & AsideFlag) && !(y.ends[second.item] & AsideFlag);
    if (inBuffer && &x == &y && second.item == first.item + 1) {
        // Neighbours trade places in their joint span: the shorter text waits aside while the
        // longer one moves over.
        const std::uint32_t from = x.spanBegin(first.item);
        char *begin = x.bytes.data() + from;
        char *middle = x.bytes.data() + x.ends[first.item];
        char *end = x.bytes.data() + x.ends[second.item];
        if (middle - begin <= end - middle) {
            const std::string shorter(begin,
                                      middle); // throws when out of memory, as QByteArray may not
            std::memmove(begin, middle, size_t(end - middle));
            std::memcpy(end - shorter.size(), shorter.data(), shorter.size());
        } else {
            const std::string shorter(middle, end);
            std::memmove(end - (middle - begin), begin, size_t(middle - begin));
            std::memcpy(begin, shorter.data(), shorter.size());
        }
        x.ends[first.item] = from + std::uint32_t(end - middle);
        return;
    }
    const QByteArrayView xText = x.text(first.item);
    const QByteArrayView yText = y.text(second.item);
    if (inBuffer && xText.size() == yText.size()) {
        // Both views point into buffers this store owns.
        std::swap_ranges(const_cast<char *>(xText.data()),
                         const_cast<char *>(xText.data() + xText.size()),
                         const_cast<char *>(yText.data()));
        return;
    }
    // A text kept aside moves as it is, sharing its buffer.
    auto held = [](Chunk &c, std::uint32_t item, QByteArrayView text) {
        return c.ends[item] & AsideFlag ? c.findAside(item)->text : text.toByteArray();
    };
    const QByteArray xHeld = held(x, first.item, xText);
    const QByteArray yHeld = held(y, second.item, yText);
    // Room for both first, so that the exchange cannot stop half way.
    for (auto [c, item, text] :
         {std::tuple<Chunk *, std::uint32_t, const QByteArray *>{&x, first.item, &yHeld},
          {&y, second.item, &xHeld}}) {
        c->aside.reserve(c->aside.size() + 2);
        if (item + 1 == c->size() && text->size() <= LongText)
            c->bytes.reserve(
                std::max(c->bytes.capacity(), c->spanBegin(item) + std::size_t(text->size())));
    }
    x.set(first.item, yHeld, false);
    y.set(second.item, xHeld, false);
    x.compactIfWasteful();
    if (&y != &x)
        y.compactIfWasteful();
}

void TextStore::prepareRemove(qsizetype index) {
    // The page table is first built by the remove that leaves a chunk short.
    pages_.reserve((std::size_t(size_ - 1) + ChunkItems - 1) >> ChunkShift);
    own(place(index).chunk);
}

void TextStore::remove(qsizetype index) {
    prepareRemove(index);
    const Place p = place(index);
    Chunk &c = *chunks_[p.chunk];
    textBytes_ -= std::size_t(c.text(p.item).size());
    c.remove(p.item);
    --size_;
    // Past a short chunk, items are found by page even when the last chunk is still full.
    regular_ = regular_ && p.chunk + 1 == chunks_.size() && gap_ == 0;
    if (c.size() == 0) {
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
void TextStore::mergeSmall(std::size_t c) {
    if (chunks_.size() < 2 || chunks_[c]->size() >= ChunkItems / 4)
        return;
    if (c + 1 == chunks_.size() || chunks_[c]->size() + chunks_[c + 1]->size() > ChunkItems) {
        if (c == 0)
            return;
        --c; // join the previous one instead
    }
    if (chunks_[c]->size() + chunks_[c + 1]->size() > ChunkItems)
        return;
    try {
        const std::shared_ptr<Chunk> next = chunks_[c + 1];
        Chunk &into = own(c);
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

void TextStore::renumberFrom(std::size_t c) {
    for (std::size_t k = c; k < chunks_.size(); ++k)
        starts_[k + 1] = k + 1 < chunks_.size() ? starts_[k] + chunks_[k]->size()
                                                : std::numeric_limits<qsizetype>::max();
    pages_.resize((std::size_t(size_) + ChunkItems - 1) >> ChunkShift);
    std::size_t k = 0;
    for (std::size_t page = 0; page < pages_.size(); ++page) {
        while (starts_[k + 1] <= qsizetype(page << ChunkShift))
            ++k;
        pages_[page] = std::uint32_t(k);
    }
}

TextStore TextStore::takeWholeChunks() {
    if (!regular_ || lastChunkSize() == ChunkItems)
        return std::exchange(*this, TextStore());
    if (size_ < ChunkItems)
        return {};
    TextStore rest;
    rest.chunks_.reserve(1);
    rest.starts_.insert(rest.starts_.begin(), 0);
    rest.chunks_.push_back(chunks_.back());
    const Chunk &last = *chunks_.back();
    rest.size_ = last.size();
    for (std::uint32_t i = 0; i < last.size(); ++i)
        rest.textBytes_ += std::size_t(last.text(i).size());
    chunks_.pop_back();
    starts_.erase(starts_.end() - 2);
    size_ -= rest.size_;
    textBytes_ -= rest.textBytes_;
    return std::exchange(*this, std::move(rest));
}

void TextStore::clear() {
    *this = TextStore();
}

qint64 TextStore::growthCost(qsizetype items, qsizetype bytes) const {
    // A shared last chunk is copied first; it and a new chunk grow by half at most.
    const std::uint32_t last = lastChunkSize();
    qint64 cost = 0;
    if (last > 0 && last < ChunkItems) {
        const Chunk &c = *chunks_.back();
        cost += qint64(c.bytes.capacity() / 2 + 64);
        if (chunks_.back().use_count() > 1)
            cost += qint64(c.bytes.size() + c.ends.size() * sizeof(std::uint32_t) +
                           c.aside.size() * sizeof(Aside));
    }
    const qint64 chunks = items / ChunkItems + 2;
    // A chunk's header with its allocation's overhead, and its entries in the tables.
    constexpr qint64 PerChunk = 256;
    static_assert(sizeof(Chunk) + 64 + sizeof(std::shared_ptr<Chunk>) + sizeof(qsizetype) <=
                  PerChunk);
    return cost + bytes + bytes / 2 + items * qint64(sizeof(std::uint32_t)) + chunks * PerChunk;
}

qint64 TextStore::growthCost(const TextStore &other) const {
    // Chunks shared from a chunk's boundary on count as copied: the store keeps them alone
    // once the other is gone.
    return other.isEmpty() || isEmpty() ? 0
                                        : growthCost(other.size(), qsizetype(other.textBytes()));
}
