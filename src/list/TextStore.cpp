#include "TextStore.h"

#include <algorithm>
#include <cstring>

namespace {
// UTF-8 extended to lone surrogates (three-byte form), so that no UTF-16 text is altered on
// its way into the store. Only used for texts that are not valid UTF-16.
QByteArray encodeWithSurrogates(QStringView text) {
    QByteArray out;
    out.reserve(text.size() * 3);
    for (qsizetype i = 0; i < text.size(); ++i) {
        char32_t c = text[i].unicode();
        if (QChar::isHighSurrogate(c) && i + 1 < text.size() &&
            QChar::isLowSurrogate(text[i + 1].unicode())) {
            c = QChar::surrogateToUcs4(char16_t(c), text[i + 1].unicode());
            ++i;
        }
        if (c < 0x80) {
            out += char(c);
        } else if (c < 0x800) {
            out += char(0xC0 | (c >> 6));
            out += char(0x80 | (c & 0x3F));
        } else if (c < 0x10000) {
            out += char(0xE0 | (c >> 12));
            out += char(0x80 | ((c >> 6) & 0x3F));
            out += char(0x80 | (c & 0x3F));
        } else {
            out += char(0xF0 | (c >> 18));
            out += char(0x80 | ((c >> 12) & 0x3F));
            out += char(0x80 | ((c >> 6) & 0x3F));
            out += char(0x80 | (c & 0x3F));
        }
    }
    return out;
}

bool holdsSurrogate(QByteArrayView bytes) {
    if (bytes.isEmpty()) // an empty store has no buffer to search
        return false;
    const char *p = bytes.data();
    const char *end = p + bytes.size();
    while ((p = static_cast<const char *>(std::memchr(p, 0xED, size_t(end - p)))) != nullptr) {
        if (p + 1 < end && (uchar(p[1]) & 0xE0) == 0xA0)
            return true;
        ++p;
    }
    return false;
}

QString decodeWithSurrogates(QByteArrayView bytes) {
    QString out;
    out.reserve(bytes.size());
    const auto *p = reinterpret_cast<const uchar *>(bytes.data());
    const auto *end = p + bytes.size();
    while (p < end) {
        char32_t c = *p;
        int extra = c < 0x80 ? 0 : c < 0xE0 ? 1 : c < 0xF0 ? 2 : 3;
        c &= extra == 0 ? 0x7F : extra == 1 ? 0x1F : extra == 2 ? 0x0F : 0x07;
        ++p;
        for (int k = 0; k < extra && p < end; ++k, ++p)
            c = (c << 6) | (*p & 0x3F);
        if (c >= 0x10000) {
            out += QChar(QChar::highSurrogate(c));
            out += QChar(QChar::lowSurrogate(c));
        } else {
            out += QChar(char16_t(c));
        }
    }
    return out;
}
} // namespace

TextStore::TextStore() : d_(std::make_shared<Data>()) {}

QByteArray TextStore::encode(QStringView text) {
    return text.isValidUtf16() ? text.toUtf8() : encodeWithSurrogates(text);
}

QString TextStore::decode(QByteArrayView bytes) {
    // fromUtf8 would drop a U+FEFF that begins the text.
    return bytes.startsWith("\xEF\xBB\xBF") || holdsSurrogate(bytes) ? decodeWithSurrogates(bytes)
                                                                     : QString::fromUtf8(bytes);
}

QString TextStore::text(qsizetype index) const {
    return decode(bytes(index));
}

void TextStore::detach() {
    if (d_.use_count() > 1)
        d_ = std::make_shared<Data>(*d_);
}

namespace {
// Grows by half rather than doubling: the lists can hold gigabytes. 0: no need to grow.
std::size_t grownCapacity(std::size_t size, std::size_t capacity, std::size_t extra) {
    const std::size_t needed = size + extra;
    return needed > capacity ? std::max(needed, capacity + capacity / 2 + 64) : 0;
}
} // namespace

template <class V> void TextStore::growFor(V &v, std::size_t extra) {
    if (const std::size_t grown = grownCapacity(v.size(), v.capacity(), extra))
        v.reserve(grown);
}

void TextStore::appendBytes(QByteArrayView bytes) {
    detach();
    growFor(d_->bytes, size_t(bytes.size()));
    growFor(d_->ends, 1);
    d_->bytes.insert(d_->bytes.end(), bytes.begin(), bytes.end());
    d_->ends.push_back(d_->bytes.size());
}

void TextStore::append(QStringView text) {
    appendBytes(encode(text));
}

void TextStore::append(const TextStore &other) {
    if (other.isEmpty())
        return;
    if (isEmpty() && d_->bytes.capacity() == 0 && other.d_ != d_) {
        d_ = other.d_; // share instead of copying
        return;
    }
    const TextStore source = other; // keeps it unchanged if other is *this
    const std::shared_ptr<Data> src = source.d_;
    if (!src->aside.empty()) {
        reserveMore(source.size(), qsizetype(src->bytes.size()));
        for (qsizetype i = 0; i < source.size(); ++i)
            appendBytes(source.bytes(i));
        return;
    }
    detach();
    const std::uint64_t base = d_->bytes.size();
    growFor(d_->bytes, src->bytes.size());
    growFor(d_->ends, src->ends.size());
    d_->bytes.insert(d_->bytes.end(), src->bytes.begin(), src->bytes.end());
    for (std::uint64_t end : src->ends)
        d_->ends.push_back(base + end);
}

void TextStore::reserveFor(const TextStore &other) {
    // What append shares instead of copying needs no room.
    if (other.isEmpty() || sharesOnAppend(other))
        return;
    reserveMore(other.size(), other.allBytes());
}

qint64 TextStore::growthCost(const TextStore &other) const {
    return other.isEmpty() || sharesOnAppend(other) ? 0
                                                    : growthCost(other.size(), other.allBytes());
}

QByteArrayView TextStore::asideText(qsizetype index) const {
    const auto found = std::ranges::lower_bound(d_->aside, std::uint64_t(index), {}, &Aside::index);
    return QByteArrayView(d_->asideBytes.data() + found->begin, qsizetype(found->length));
}

std::vector<TextStore::Aside>::iterator TextStore::findAside(std::size_t index) {
    return std::ranges::lower_bound(d_->aside, std::uint64_t(index), {}, &Aside::index);
}

void TextStore::putAside(std::size_t index, QByteArrayView text) {
    Data &d = *d_;
    const Aside entry{index, d.asideBytes.size(), std::uint64_t(text.size())};
    growFor(d.asideBytes, size_t(text.size()));
    d.asideBytes.insert(d.asideBytes.end(), text.begin(), text.end());
    const auto at = findAside(index);
    if (at != d.aside.end() && at->index == index) {
        *at = entry; // the old bytes stay unused until the next compaction
    } else {
        d.aside.insert(at, entry);
        d.unusedBytes += (d.ends[index] & OffsetMask) - spanBegin(index);
        d.ends[index] |= AsideFlag;
    }
}

// Back to the item's own span, which the caller fills or gives up.
void TextStore::dropAside(std::size_t index) {
    Data &d = *d_;
    if (!(d.ends[index] & AsideFlag))
        return;
    d.aside.erase(findAside(index));
    d.ends[index] &= OffsetMask;
    d.unusedBytes -= d.ends[index] - spanBegin(index);
}

void TextStore::setText(qsizetype index, QStringView text) {
    const QByteArray encoded = encode(text);
    detach();
    setBytes(size_t(index), encoded);
}

void TextStore::exchange(qsizetype a, qsizetype b) {
    if (a == b)
        return;
    detach();
    Data &d = *d_;
    const auto first = size_t(std::min(a, b));
    const auto second = size_t(std::max(a, b));
    const bool inBuffer = !(d.ends[first] & AsideFlag) && !(d.ends[second] & AsideFlag);
    if (inBuffer && second == first + 1) {
        // Neighbours trade places in their joint span: the shorter text waits aside while the
        // longer one moves over.
        char *begin = d.bytes.data() + spanBegin(first);
        char *middle = d.bytes.data() + d.ends[first];
        char *end = d.bytes.data() + d.ends[second];
        if (middle - begin <= end - middle) {
            const QByteArray shorter(begin, middle - begin);
            std::memmove(begin, middle, size_t(end - middle));
            std::memcpy(end - shorter.size(), shorter.constData(), size_t(shorter.size()));
        } else {
            const QByteArray shorter(middle, end - middle);
            std::memmove(end - (middle - begin), begin, size_t(middle - begin));
            std::memcpy(begin, shorter.constData(), size_t(shorter.size()));
        }
        d.ends[first] = spanBegin(first) + std::uint64_t(end - middle);
        return;
    }
    const QByteArrayView x = bytes(a);
    const QByteArrayView y = bytes(b);
    if (x.size() == y.size()) {
        // Both views point into this store's own writable buffers.
        std::swap_ranges(const_cast<char *>(x.data()), const_cast<char *>(x.data() + x.size()),
                         const_cast<char *>(y.data()));
        return;
    }
    const QByteArray kept = x.toByteArray();
    setBytes(size_t(a), y.toByteArray());
    setBytes(size_t(b), kept);
}

void TextStore::setBytes(std::size_t i, QByteArrayView encoded) {
    Data &d = *d_;
    const std::uint64_t begin = spanBegin(i);
    const std::uint64_t span = (d.ends[i] & OffsetMask) - begin;
    if (i + 1 == d.ends.size()) {
        // The last text may grow or shrink where it is.
        dropAside(i);
        d.bytes.resize(begin);
        growFor(d.bytes, size_t(encoded.size()));
        d.bytes.insert(d.bytes.end(), encoded.begin(), encoded.end());
        d.ends[i] = d.bytes.size();
    } else if (std::uint64_t(encoded.size()) == span) {
        dropAside(i);
        std::copy(encoded.begin(), encoded.end(), d.bytes.begin() + std::ptrdiff_t(begin));
    } else {
        putAside(i, encoded);
        compactIfWasteful();
    }
}

void TextStore::remove(qsizetype index) {
    detach();
    Data &d = *d_;
    const auto i = size_t(index);
    if (i + 1 == d.ends.size()) {
        dropAside(i);
        d.bytes.resize(spanBegin(i));
        d.ends.pop_back();
        return;
    }
    const std::uint64_t span = (d.ends[i] & OffsetMask) - spanBegin(i);
    if (span > 0) {
        // The next item takes over the span: its text goes aside, so no byte moves.
        if (!(d.ends[i + 1] & AsideFlag))
            putAside(i + 1, bytes(index + 1));
        d.unusedBytes += span;
    }
    if (d.ends[i] & AsideFlag) {
        d.aside.erase(findAside(i));
        d.unusedBytes -= span;
    }
    d.ends.erase(d.ends.begin() + index);
    for (auto at = findAside(i); at != d.aside.end(); ++at)
        --at->index;
    compactIfWasteful();
}

// Rewrites the buffer once texts kept aside or unused spans have grown large, so an edit is
// cheap on average and memory stays close to the texts' size.
void TextStore::compactIfWasteful() {
    const Data &d = *d_;
    const bool many = d.aside.size() > 4096 + d.ends.size() / 16;
    const bool wasteful =
        d.unusedBytes + d.asideBytes.size() > (std::uint64_t(1) << 20) + d.bytes.size() / 4;
    if (!many && !wasteful)
        return;
    auto fresh = std::make_shared<Data>();
    fresh->ends.reserve(d.ends.size());
    fresh->bytes.reserve(d.bytes.size() - d.unusedBytes + d.asideBytes.size());
    for (qsizetype i = 0; i < size(); ++i) {
        const QByteArrayView text = bytes(i);
        fresh->bytes.insert(fresh->bytes.end(), text.begin(), text.end());
        fresh->ends.push_back(fresh->bytes.size());
    }
    d_ = std::move(fresh);
}

void TextStore::clear() {
    d_ = std::make_shared<Data>();
}

void TextStore::reserveMore(qsizetype items, qsizetype bytes) {
    detach();
    growFor(d_->ends, size_t(items));
    growFor(d_->bytes, size_t(bytes));
}

qint64 TextStore::growthCost(qsizetype items, qsizetype bytes) const {
    const Data &d = *d_;
    // A shared store is copied first, without spare room; the old buffers stay held while
    // the new ones fill.
    const bool shared = d_.use_count() > 1;
    const qint64 copy =
        shared ? qint64(d.bytes.size() + d.asideBytes.size() +
                        d.ends.size() * sizeof(std::uint64_t) + d.aside.size() * sizeof(Aside))
               : 0;
    const std::size_t grownEnds =
        grownCapacity(d.ends.size(), shared ? d.ends.size() : d.ends.capacity(), size_t(items));
    const std::size_t grownBytes =
        grownCapacity(d.bytes.size(), shared ? d.bytes.size() : d.bytes.capacity(), size_t(bytes));
    return copy + qint64(grownEnds * sizeof(std::uint64_t) + grownBytes);
}

std::size_t TextStore::bytesAllocated() const {
    return d_->bytes.capacity() + d_->ends.capacity() * sizeof(std::uint64_t) +
           d_->aside.capacity() * sizeof(Aside) + d_->asideBytes.capacity();
}
