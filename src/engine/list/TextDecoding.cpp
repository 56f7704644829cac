#include "TextDecoding.h"

#include <QString>

#include <array>

#if __has_include(<iconv.h>)
#include <iconv.h>
#define QUORVEL_HAVE_ICONV 1
#endif

namespace {
// Windows-1252 as the system's converter knows it; what it leaves undefined keeps its value.
// The bytes 0x80 to 0x9F are also known here for systems without a converter for it.
struct Windows1252Table {
    std::array<QByteArray, 256> utf8;
    Windows1252Table() {
        static constexpr char16_t high[32] = {
            0x20AC, 0x81,   0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
            0x2039, 0x0152, 0x8D,   0x017D, 0x8F,   0x90,   0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
            0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x9D,   0x017E, 0x0178};
#ifdef QUORVEL_HAVE_ICONV
        const iconv_t cd = iconv_open("UTF-32LE", "WINDOWS-1252");
#endif
        for (int b = 0; b < 256; ++b) {
            char32_t code = b >= 0x80 && b < 0xA0 ? high[b - 0x80] : char32_t(b);
#ifdef QUORVEL_HAVE_ICONV
            if (b >= 0x80 && cd != iconv_t(-1)) {
                char in = char(b);
                char out[4] = {};
                char *inp = &in, *outp = out;
                size_t inLeft = 1, outLeft = sizeof out;
                iconv(cd, nullptr, nullptr, nullptr, nullptr);
                if (iconv(cd, &inp, &inLeft, &outp, &outLeft) != size_t(-1) && outLeft == 0)
                    code = char32_t(uchar(out[0]) | uchar(out[1]) << 8 | uchar(out[2]) << 16);
                else
                    code = char32_t(b); // undefined in the code page
            }
#endif
            utf8[size_t(b)] = QString::fromUcs4(&code, 1).toUtf8();
        }
#ifdef QUORVEL_HAVE_ICONV
        if (cd != iconv_t(-1))
            iconv_close(cd);
#endif
    }
};

const Windows1252Table &windows1252() {
    static const Windows1252Table table;
    return table;
}

// The text of one Windows-1252 byte, as UTF-8.
QByteArrayView windows1252ToUtf8(uchar byte) {
    return windows1252().utf8[byte];
}
} // namespace

QByteArray EightBitDecoder::decode(const QByteArray &chunk, bool last) {
    const QByteArray in = carry_ + chunk;
    carry_.clear();
    QByteArray out;
    out.reserve(in.size() + 16);
    const auto *p = reinterpret_cast<const uchar *>(in.constData());
    const qsizetype n = in.size();
    qsizetype kept = 0; // bytes before this are in out already
    for (qsizetype i = 0; i < n;) {
        const uchar b = p[i];
        if (b < 0x80) {
            ++i;
            continue;
        }
        const int length = !keepUtf8_               ? 0
                           : b >= 0xC2 && b <= 0xDF ? 2
                           : b >= 0xE0 && b <= 0xEF ? 3
                           : b >= 0xF0 && b <= 0xF4 ? 4
                                                    : 0;
        if (length && i + length > n && !last) {
            carry_ = in.mid(i); // may complete in the next chunk
            out.append(in.constData() + kept, i - kept);
            return out;
        }
        if (length && i + length <= n && QByteArrayView(in.constData() + i, length).isValidUtf8()) {
            i += length;
            continue;
        }
        out.append(in.constData() + kept, i - kept);
        out += windows1252ToUtf8(b);
        kept = ++i;
    }
    out.append(in.constData() + kept, n - kept);
    return out;
}
