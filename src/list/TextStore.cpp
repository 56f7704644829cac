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

// Grows by half rather than doubling: the lists can hold gigabytes.
template <class V> void TextStore::growFor(V &v, std::size_t extra) {
    const std::size_t needed = v.size() + extra;
    if (needed > v.capacity())
        v.reserve(std::max(needed, v.capacity() + v.capacity() / 2 + 64));
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
    const std::shared_ptr<Data> src = other.d_; // keeps it alive if other is *this
    detach();
    const std::uint64_t base = d_->bytes.size();
    growFor(d_->bytes, src->bytes.size());
    growFor(d_->ends, src->ends.size());
    d_->bytes.insert(d_->bytes.end(), src->bytes.begin(), src->bytes.end());
    for (std::uint64_t end : src->ends)
        d_->ends.push_back(base + end);
}

void TextStore::setText(qsizetype index, QStringView text) {
    const QByteArray encoded = encode(text);
    detach();
    const std::uint64_t begin = index == 0 ? 0 : d_->ends[size_t(index) - 1];
    const std::uint64_t end = d_->ends[size_t(index)];
    const auto first = d_->bytes.begin() + std::ptrdiff_t(begin);
    d_->bytes.erase(first, d_->bytes.begin() + std::ptrdiff_t(end));
    d_->bytes.insert(d_->bytes.begin() + std::ptrdiff_t(begin), encoded.begin(), encoded.end());
    const std::int64_t delta = std::int64_t(encoded.size()) - std::int64_t(end - begin);
    for (size_t i = size_t(index); i < d_->ends.size(); ++i)
        d_->ends[i] = std::uint64_t(std::int64_t(d_->ends[i]) + delta);
}

void TextStore::remove(qsizetype index) {
    detach();
    const std::uint64_t begin = index == 0 ? 0 : d_->ends[size_t(index) - 1];
    const std::uint64_t length = d_->ends[size_t(index)] - begin;
    d_->bytes.erase(d_->bytes.begin() + std::ptrdiff_t(begin),
                    d_->bytes.begin() + std::ptrdiff_t(begin + length));
    d_->ends.erase(d_->ends.begin() + index);
    for (size_t i = size_t(index); i < d_->ends.size(); ++i)
        d_->ends[i] -= length;
}

void TextStore::clear() {
    d_ = std::make_shared<Data>();
}

void TextStore::reserveMore(qsizetype items, qsizetype bytes) {
    detach();
    growFor(d_->ends, size_t(items));
    growFor(d_->bytes, size_t(bytes));
}

std::size_t TextStore::bytesAllocated() const {
    return d_->bytes.capacity() + d_->ends.capacity() * sizeof(std::uint64_t);
}
