#include "TextChunk.h"

#include <algorithm>
#include <cstring>
#include <new>

QByteArrayView TextChunk::asideText(std::uint32_t item) const {
    const auto found = std::ranges::lower_bound(aside, item, {}, &Aside::item);
    return QByteArrayView(found->text);
}

std::vector<TextChunk::Aside>::iterator TextChunk::findAside(std::uint32_t item) {
    return std::ranges::lower_bound(aside, item, {}, &Aside::item);
}

bool TextChunk::asideIn(std::uint32_t from, std::uint32_t to) const {
    const auto found = std::ranges::lower_bound(aside, from, {}, &Aside::item);
    return found != aside.end() && found->item < to;
}

std::size_t TextChunk::bufferBytes(std::uint32_t from, std::uint32_t to) const {
    if (from == to)
        return 0;
    if (!asideIn(from, to))
        return ends[to - 1] - spanBegin(from);
    std::size_t sum = 0;
    for (std::uint32_t i = from; i < to; ++i) {
        const qsizetype length = text(i).size();
        sum += length > LongText ? 0 : std::size_t(length);
    }
    return sum;
}

void TextChunk::appendText(QByteArrayView text, const QByteArray *kept) {
    if (text.size() > LongText) {
        aside.push_back({size(), kept ? *kept : text.toByteArray()});
        ends.push_back(std::uint32_t(bytes.size()) | AsideFlag);
        return;
    }
    bytes.insert(bytes.end(), text.begin(), text.end());
    ends.push_back(std::uint32_t(bytes.size()));
}

void TextChunk::appendRange(const TextChunk &source, std::uint32_t from, std::uint32_t to) {
    if (!source.asideIn(from, to)) {
        // One copy of the texts; their ends move by the same amount.
        const std::uint32_t begin = source.spanBegin(from);
        const std::uint32_t base = std::uint32_t(bytes.size());
        bytes.insert(bytes.end(), source.bytes.begin() + begin,
                     source.bytes.begin() + source.ends[to - 1]);
        for (std::uint32_t i = from; i < to; ++i)
            ends.push_back(source.ends[i] - begin + base);
        return;
    }
    auto kept = std::ranges::lower_bound(source.aside, from, {}, &Aside::item);
    for (std::uint32_t i = from; i < to; ++i) {
        const bool aside = source.ends[i] & AsideFlag;
        appendText(source.text(i), aside ? &kept->text : nullptr);
        kept += aside ? 1 : 0;
    }
}

void TextChunk::putAside(std::uint32_t item, const QByteArray &text) {
    const auto at = findAside(item);
    const bool wasAside = at != aside.end() && at->item == item;
    const bool isShort = text.size() <= LongText;
    if (!wasAside)
        aside.insert(at, {item, text}); // the only step that may fail
    else if (at->text.size() <= LongText) {
        shortAsideBytes -= std::uint32_t(at->text.size());
        --shortAsideCount;
    }
    if (wasAside)
        at->text = text;
    else {
        unusedBytes += (ends[item] & OffsetMask) - spanBegin(item);
        ends[item] |= AsideFlag;
    }
    if (isShort) {
        shortAsideBytes += std::uint32_t(text.size());
        ++shortAsideCount;
    }
}

// Back to the item's own span, which the caller fills or gives up.
void TextChunk::dropAside(std::uint32_t item) {
    if (!(ends[item] & AsideFlag))
        return;
    const auto at = findAside(item);
    if (at->text.size() <= LongText) {
        shortAsideBytes -= std::uint32_t(at->text.size());
        --shortAsideCount;
    }
    aside.erase(at);
    ends[item] &= OffsetMask;
    unusedBytes -= ends[item] - spanBegin(item);
}

void TextChunk::set(std::uint32_t item, const QByteArray &text, bool compact) {
    const std::uint32_t begin = spanBegin(item);
    const std::uint32_t span = (ends[item] & OffsetMask) - begin;
    if (text.size() <= LongText && item + 1 == size()) {
        // The last text may grow or shrink where it is.
        bytes.reserve(std::max(bytes.capacity(), begin + std::size_t(text.size())));
        dropAside(item);
        bytes.resize(begin);
        bytes.insert(bytes.end(), text.begin(), text.end());
        ends[item] = std::uint32_t(bytes.size());
    } else if (text.size() <= LongText && std::uint32_t(text.size()) == span) {
        dropAside(item);
        std::copy(text.begin(), text.end(), bytes.begin() + std::ptrdiff_t(begin));
    } else {
        putAside(item, text);
        if (compact)
            compactIfWasteful();
    }
}

void TextChunk::remove(std::uint32_t item) {
    dropAside(item);
    const std::uint32_t begin = spanBegin(item);
    const std::uint32_t length = ends[item] - begin;
    bytes.erase(bytes.begin() + begin, bytes.begin() + begin + length);
    ends.erase(ends.begin() + item);
    for (auto end = ends.begin() + item; end != ends.end(); ++end)
        *end -= length; // the flag stays
    for (auto at = findAside(item); at != aside.end(); ++at)
        --at->item;
}

// Rewrites the buffer once texts kept aside or unused spans have grown large, so an edit is
// cheap on average and memory stays close to the texts' size. Long texts stay aside.
void TextChunk::compactIfWasteful() {
    const bool many = shortAsideCount > 64 + size() / 8;
    const bool wasteful = unusedBytes + shortAsideBytes > 16384 + bytes.size() / 4;
    if (!many && !wasteful)
        return;
    try {
        TextChunk fresh;
        fresh.ends.reserve(ends.size());
        fresh.bytes.reserve(bytes.size() - unusedBytes + shortAsideBytes);
        fresh.aside.reserve(aside.size() - shortAsideCount);
        fresh.appendRange(*this, 0, size());
        *this = std::move(fresh);
    } catch (const std::bad_alloc &) {
        // Only a saving: the texts are all there without it.
    }
}

void TextChunk::truncate(std::size_t items, std::size_t bufferBytes, std::size_t asides) {
    ends.resize(items);
    bytes.resize(bufferBytes);
    aside.erase(aside.begin() + std::ptrdiff_t(asides), aside.end());
}

std::size_t TextChunk::bytesAllocated() const {
    std::size_t sum = sizeof(TextChunk) + bytes.capacity() +
                      ends.capacity() * sizeof(std::uint32_t) + aside.capacity() * sizeof(Aside);
    for (const Aside &a : aside)
        sum += std::size_t(a.text.capacity());
    return sum;
}
