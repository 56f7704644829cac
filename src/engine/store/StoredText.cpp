// How texts are kept as bytes in the store: UTF-8, lone surrogates included.
#include "TextStore.h"

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

QByteArray TextStore::encode(QStringView text) {
    return text.isValidUtf16() ? text.toUtf8() : encodeWithSurrogates(text);
}

QString TextStore::decode(QByteArrayView bytes) {
    // fromUtf8 would drop a U+FEFF that begins the text.
    return bytes.startsWith("\xEF\xBB\xBF") || holdsSurrogate(bytes) ? decodeWithSurrogates(bytes)
                                                                     : QString::fromUtf8(bytes);
}
