#include "ListFileReader.h"

#include "app/ErrorReport.h"
#include "app/TimeSlice.h"

#include <QStringDecoder>

#include <array>
#include <cstring>

#if __has_include(<iconv.h>)
#include <iconv.h>
#define QUORVEL_HAVE_ICONV 1
#endif

namespace {
constexpr qint64 ChunkSize = 1 << 18;

enum class Encoding {
    Utf8,
    Utf8WithStrayBytes, // marked as UTF-8, yet not all of it is
    Utf16LE,
    Utf16BE,
    Windows1252,
};

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

// Cuts byte text into lines and batches them.
class LineSplitter {
public:
    explicit LineSplitter(const LineSink &sink) : sink_(sink) {}

    void feed(QByteArrayView chunk) {
        const char *data = chunk.data();
        const qsizetype size = chunk.size();
        qsizetype pos = 0;
        if (pendingCR_ && size > 0) {
            pendingCR_ = false;
            if (data[0] == '\n')
                pos = 1; // the LF of a CR LF split between chunks
        }
        while (pos < size) {
            qsizetype end = pos;
            while (end < size && data[end] != '\n' && data[end] != '\r')
                ++end;
            if (end == size) {
                partial_.append(data + pos, end - pos);
                return;
            }
            if (partial_.isEmpty()) {
                lines_.appendBytes(QByteArrayView(data + pos, end - pos));
            } else {
                partial_.append(data + pos, end - pos);
                lines_.appendBytes(partial_);
                partial_.clear();
            }
            if (data[end] == '\r') {
                if (end + 1 < size && data[end + 1] == '\n')
                    ++end;
                else if (end + 1 == size)
                    pendingCR_ = true;
            }
            pos = end + 1;
        }
    }

    // What follows the last line end is a line of its own unless it is empty.
    void finish() {
        if (!partial_.isEmpty()) {
            lines_.appendBytes(partial_);
            partial_.clear();
        }
        flush();
    }

    void flush() {
        if (!lines_.isEmpty()) {
            sink_(lines_);
            lines_.clear();
        }
    }

private:
    const LineSink &sink_;
    TextStore lines_;
    QByteArray partial_;
    bool pendingCR_ = false;
};

// Turns 8-bit text into UTF-8, each byte of 0x80 or above standing for its Windows-1252
// character. With keepUtf8, valid UTF-8 sequences pass through and only the bytes that belong
// to none are taken that way, so that no byte is lost.
class EightBitDecoder {
public:
    explicit EightBitDecoder(bool keepUtf8) : keepUtf8_(keepUtf8) {}

    QByteArray decode(const QByteArray &chunk, bool last) {
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
            if (length && i + length <= n &&
                QByteArrayView(in.constData() + i, length).isValidUtf8()) {
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

private:
    bool keepUtf8_;
    QByteArray carry_;
};

QByteArray readChunk(QIODevice &device) {
    QByteArray chunk(ChunkSize, Qt::Uninitialized);
    const qint64 got = device.read(chunk.data(), ChunkSize);
    if (got < 0)
        throw Failure(device.errorString().isEmpty() ? QStringLiteral("Input past end of file")
                                                     : device.errorString());
    chunk.truncate(got);
    return chunk;
}

bool atEnd(QIODevice &device, const QByteArray &lastChunk) {
    return lastChunk.isEmpty() || (!device.isSequential() && device.atEnd());
}

void turn(TimeSlice *slice, LineSplitter *splitter) {
    if (slice && slice->due()) {
        if (splitter)
            splitter->flush();
        slice->yield();
    }
}

// Where a chunk can be cut without splitting a UTF-8 sequence: before the last byte that is
// not a continuation byte.
qsizetype safeCut(const QByteArray &bytes) {
    qsizetype i = bytes.size();
    while (i > 0 && (uchar(bytes[i - 1]) & 0xC0) == 0x80 && bytes.size() - i < 4)
        --i;
    return i > 0 ? i - 1 : 0;
}

bool isValidUtf8(QIODevice &device, TimeSlice *slice) {
    QByteArray carry;
    for (;;) {
        QByteArray chunk;
        try {
            chunk = readChunk(device);
        } catch (const Failure &) {
            // Judge by what could be read; the reading pass then keeps the lines before the
            // failure and reports it.
            return QByteArrayView(carry).first(safeCut(carry)).isValidUtf8();
        }
        if (chunk.isEmpty())
            return QByteArrayView(carry).isValidUtf8();
        carry += chunk;
        const qsizetype cut = safeCut(carry);
        if (!QByteArrayView(carry).first(cut).isValidUtf8())
            return false;
        carry.remove(0, cut);
        turn(slice, nullptr);
        if (atEnd(device, chunk))
            return QByteArrayView(carry).isValidUtf8();
    }
}

Encoding detect(QIODevice &device, TimeSlice *slice) {
    // Decided before anything is read: a sequential source may never end.
    if (device.isSequential())
        throw Failure(QStringLiteral("Bad file mode"));
    const QByteArray head = device.peek(3);
    if (head.startsWith("\xFF\xFE")) {
        device.skip(2);
        return Encoding::Utf16LE;
    }
    if (head.startsWith("\xFE\xFF")) {
        device.skip(2);
        return Encoding::Utf16BE;
    }
    const bool marked = head.startsWith("\xEF\xBB\xBF");
    if (marked)
        device.skip(3);
    const qint64 start = device.pos();
    const bool utf8 = isValidUtf8(device, slice);
    if (!device.seek(start))
        throw Failure(device.errorString());
    if (utf8)
        return Encoding::Utf8;
    return marked ? Encoding::Utf8WithStrayBytes : Encoding::Windows1252;
}
} // namespace

QByteArrayView windows1252ToUtf8(uchar byte) {
    return windows1252().utf8[byte];
}

void readListLines(QIODevice &device, TimeSlice *slice, const LineSink &sink) {
    LineSplitter splitter(sink);
    try {
        const Encoding encoding = detect(device, slice);
        QStringDecoder utf16(encoding == Encoding::Utf16BE ? QStringConverter::Utf16BE
                                                           : QStringConverter::Utf16LE,
                             QStringConverter::Flag::ConvertInitialBom);
        qint64 total = 0;
        QString heldHighSurrogate;
        EightBitDecoder eightBit(encoding == Encoding::Utf8WithStrayBytes);
        for (;;) {
            const QByteArray chunk = readChunk(device);
            total += chunk.size();
            switch (encoding) {
            case Encoding::Utf8:
                splitter.feed(chunk);
                break;
            case Encoding::Utf8WithStrayBytes:
            case Encoding::Windows1252:
                splitter.feed(eightBit.decode(chunk, false));
                break;
            case Encoding::Utf16LE:
            case Encoding::Utf16BE: {
                // A surrogate pair cut by the chunk boundary is joined again first.
                QString text = heldHighSurrogate + QString(utf16.decode(chunk));
                heldHighSurrogate.clear();
                if (!text.isEmpty() && text.back().isHighSurrogate()) {
                    heldHighSurrogate = text.back();
                    text.chop(1);
                }
                splitter.feed(TextStore::encode(text));
                break;
            }
            }
            if (atEnd(device, chunk))
                break;
            turn(slice, &splitter);
        }
        splitter.feed(eightBit.decode({}, true)); // a sequence cut off at the very end
        if (!heldHighSurrogate.isEmpty())
            splitter.feed(TextStore::encode(heldHighSurrogate));
        // A dangling half of a UTF-16 unit still shows up rather than vanishing.
        if ((encoding == Encoding::Utf16LE || encoding == Encoding::Utf16BE) && (total & 1))
            splitter.feed("\xEF\xBF\xBD");
        splitter.finish();
    } catch (const Failure &) {
        splitter.flush(); // the complete lines read so far; a cut-off line is not one
        throw;
    }
}
