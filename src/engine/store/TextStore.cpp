#include "TextStore.h"

#include <algorithm>
#include <cstring>
#include <string>
#include <tuple>
#include <utility>

QString TextStore::text(qsizetype index) const {
    return decode(bytes(index));
}

void TextStore::appendBytesMakingRoom(QByteArrayView bytes) {
    if (!index_.regular()) {
        TextStore one;
        one.appendBytes(bytes);
        return append(one);
    }
    // Room first, so that running out of memory changes nothing.
    const std::uint32_t lastSize = index_.lastChunkSize();
    const bool fresh = lastSize == 0 || lastSize == ChunkItems;
    std::shared_ptr<TextChunk> chunk = fresh ? std::make_shared<TextChunk>() : nullptr;
    TextChunk &c = fresh ? *chunk : index_.own(index_.chunks().size() - 1);
    if (fresh && lastSize == ChunkItems) {
        // Appending line after line: the next chunk is about as large as the last.
        const std::size_t last = index_.chunks().back()->bytes.size();
        c.ends.reserve(ChunkItems);
        c.bytes.reserve(last + last / 16);
    } else if (fresh && expected_.first > 0) {
        // The first chunk's share of what is expected.
        const auto [items, bytes] = std::exchange(expected_, {0, 0});
        const qsizetype first = std::min<qsizetype>(items, ChunkItems);
        c.ends.reserve(std::size_t(first));
        c.bytes.reserve(std::size_t(bytes / items * first + bytes % items));
    }
    TextChunk::growFor(c.ends, 1, ChunkItems);
    if (bytes.size() > TextChunk::LongText)
        TextChunk::growFor(c.aside, 1);
    else
        TextChunk::growFor(c.bytes, std::size_t(bytes.size()));
    if (fresh)
        index_.reserve(1, 1);
    c.appendText(bytes, nullptr);
    if (fresh)
        index_.add({&chunk, 1});
    else
        index_.grew(1);
    textBytes_ += std::size_t(bytes.size());
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
    const bool shares = index_.sharesOnAppend(source.index_);
    // Otherwise the last chunk is filled first; it is changed in place only when nothing
    // shares it, and cut back should the memory run out.
    const bool fillLast = !shares && index_.lastChunkSize() < ChunkItems;
    TextChunk *const filled = fillLast ? &index_.own(index_.chunks().size() - 1) : nullptr;
    TextChunk *last = filled;
    std::size_t lastItems = 0, lastBytes = 0, lastAsides = 0;
    if (fillLast) {
        lastItems = last->ends.size();
        lastBytes = last->bytes.size();
        lastAsides = last->aside.size();
    }
    std::vector<std::shared_ptr<TextChunk>> added;
    try {
        if (shares)
            added = source.index_.chunks();
        else
            for (qsizetype done = 0; done < source.size();) {
                TextChunk *target = last;
                if (!target || target->size() == ChunkItems) {
                    added.push_back(std::make_shared<TextChunk>());
                    target = added.back().get();
                    last = nullptr;
                }
                const auto count = std::uint32_t(
                    std::min<qsizetype>(ChunkItems - target->size(), source.size() - done));
                std::size_t bufferBytes = 0;
                source.index_.forRuns(
                    done, count, [&](const TextChunk &from, std::uint32_t first, std::uint32_t to) {
                        bufferBytes += from.bufferBytes(first, to);
                    });
                // Exact for a new chunk, growing by half for the last one.
                const std::size_t needed = target->bytes.size() + bufferBytes;
                if (needed > target->bytes.capacity())
                    target->bytes.reserve(target->bytes.empty()
                                              ? needed
                                              : std::max(needed, target->bytes.capacity() * 3 / 2));
                target->ends.reserve(target->ends.size() + count);
                source.index_.forRuns(
                    done, count, [&](const TextChunk &from, std::uint32_t first, std::uint32_t to) {
                        target->appendRange(from, first, to);
                    });
                done += count;
            }
        index_.reserve(added.size(), source.size());
        if (beforeChange)
            beforeChange();
    } catch (...) {
        if (fillLast)
            filled->truncate(lastItems, lastBytes, lastAsides);
        throw;
    }
    if (fillLast)
        index_.grew(qsizetype(filled->size() - lastItems));
    index_.add(added, shares ? &source.index_ : nullptr);
    textBytes_ += source.textBytes_;
}

void TextStore::setText(qsizetype index, QStringView text) {
    const QByteArray encoded = encode(text);
    const ChunkIndex::Place p = index_.place(index);
    TextChunk &c = index_.own(p.chunk);
    const auto old = std::size_t(c.text(p.item).size());
    c.set(p.item, encoded);
    textBytes_ = textBytes_ - old + std::size_t(encoded.size());
}

void TextStore::exchange(qsizetype a, qsizetype b) {
    if (a == b)
        return;
    const ChunkIndex::Place first = index_.place(std::min(a, b));
    const ChunkIndex::Place second = index_.place(std::max(a, b));
    TextChunk &x = index_.own(first.chunk);
    TextChunk &y = index_.own(second.chunk);
    const bool inBuffer = !(x.ends[first.item] & TextChunk::AsideFlag) &&
                          !(y.ends[second.item] & TextChunk::AsideFlag);
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
    auto held = [](TextChunk &c, std::uint32_t item, QByteArrayView text) {
        return c.ends[item] & TextChunk::AsideFlag ? c.findAside(item)->text : text.toByteArray();
    };
    const QByteArray xHeld = held(x, first.item, xText);
    const QByteArray yHeld = held(y, second.item, yText);
    // Room for both first, so that the exchange cannot stop half way.
    for (auto [c, item, text] :
         {std::tuple<TextChunk *, std::uint32_t, const QByteArray *>{&x, first.item, &yHeld},
          {&y, second.item, &xHeld}}) {
        c->aside.reserve(c->aside.size() + 2);
        if (item + 1 == c->size() && text->size() <= TextChunk::LongText)
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
    index_.prepareRemove(index);
}

void TextStore::remove(qsizetype index) {
    prepareRemove(index);
    const ChunkIndex::Place p = index_.place(index);
    TextChunk &c = index_.own(p.chunk);
    textBytes_ -= std::size_t(c.text(p.item).size());
    c.remove(p.item);
    index_.removed(p);
}

TextStore TextStore::takeWholeChunks() {
    if (!index_.regular() || index_.lastChunkSize() == ChunkItems)
        return std::exchange(*this, TextStore());
    if (size() < ChunkItems)
        return {};
    TextStore rest;
    rest.index_ = index_.takeLast();
    const TextChunk &last = rest.index_.chunk(0);
    for (std::uint32_t i = 0; i < last.size(); ++i)
        rest.textBytes_ += std::size_t(last.text(i).size());
    textBytes_ -= rest.textBytes_;
    return std::exchange(*this, std::move(rest));
}

void TextStore::clear() {
    *this = TextStore();
}

qint64 TextStore::growthCost(qsizetype items, qsizetype bytes) const {
    // A shared last chunk is copied first; it and a new chunk grow by half at most.
    const std::uint32_t last = index_.lastChunkSize();
    qint64 cost = 0;
    if (last > 0 && last < ChunkItems) {
        const TextChunk &c = *index_.chunks().back();
        cost += qint64(c.bytes.capacity() / 2 + 64);
        if (index_.chunks().back().use_count() > 1)
            cost += qint64(c.bytes.size() + c.ends.size() * sizeof(std::uint32_t) +
                           c.aside.size() * sizeof(TextChunk::Aside));
    }
    const qint64 chunks = items / ChunkItems + 2;
    // A chunk's header with its allocation's overhead, and its entries in the tables.
    constexpr qint64 PerChunk = 256;
    static_assert(sizeof(TextChunk) + 64 + sizeof(std::shared_ptr<TextChunk>) + sizeof(qsizetype) <=
                  PerChunk);
    return cost + bytes + bytes / 2 + items * qint64(sizeof(std::uint32_t)) + chunks * PerChunk;
}

std::size_t TextStore::bytesAllocated() const {
    return index_.bytesAllocated();
}

qint64 TextStore::growthCost(const TextStore &other) const {
    // Chunks shared from a chunk's boundary on count as copied: the store keeps them alone
    // once the other is gone.
    return other.isEmpty() || isEmpty() ? 0
                                        : growthCost(other.size(), qsizetype(other.textBytes()));
}
