#include "ListFileReader.h"

#include "core/ErrorReport.h"
#include "core/TimeSlice.h"

#include <QStringDecoder>

#include <array>
#include <bit>
#include <cstdint>
#include <cstring>
#include <deque>
#include <optional>

#ifdef __SSE2__
#include <emmintrin.h>
#endif

#if __has_include(<iconv.h>)
#include <iconv.h>
#define QUORVEL_HAVE_ICONV 1
#endif

namespace {
// Large blocks keep the system calls few; small enough that splitting one stays well
// inside a time slice.
constexpr qsizetype BlockSize = 1 << 20;

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

#ifdef __SSE2__
// Bit k of cr (lf) tells whether byte k of the 32 at data is a CR (LF).
struct BreakMasks {
    std::uint32_t cr, lf;
};
BreakMasks breakMasks(const char *data) {
    const __m128i cr = _mm_set1_epi8('\r');
    const __m128i lf = _mm_set1_epi8('\n');
    const __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i *>(data));
    const __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i *>(data + 16));
    auto mask = [](__m128i low, __m128i high) {
        return std::uint32_t(unsigned(_mm_movemask_epi8(low)) | unsigned(_mm_movemask_epi8(high))
                                                                    << 16);
    };
    return {mask(_mm_cmpeq_epi8(a, cr), _mm_cmpeq_epi8(b, cr)),
            mask(_mm_cmpeq_epi8(a, lf), _mm_cmpeq_epi8(b, lf))};
}
#endif

// Calls found(offset) for every CR and LF byte, in order; 32 bytes at a time where the
// processor allows.
template <class Found> void forEachLineBreak(const char *data, qsizetype size, Found &&found) {
    qsizetype i = 0;
#ifdef __SSE2__
    for (; i + 32 <= size; i += 32) {
        const BreakMasks m = breakMasks(data + i);
        for (std::uint32_t mask = m.cr | m.lf; mask != 0; mask &= mask - 1)
            found(i + std::countr_zero(mask));
    }
#endif
    for (; i < size; ++i)
        if (data[i] == '\r' || data[i] == '\n')
            found(i);
}

// Counts the lines and their bytes as the cutter below would cut them, without cutting.
class LineCounter {
public:
    void feed(QByteArrayView chunk) {
        const char *data = chunk.data();
        const qsizetype size = chunk.size();
        qsizetype i = 0;
#ifdef __SSE2__
        for (; i + 32 <= size; i += 32) {
            const BreakMasks m = breakMasks(data + i);
            const std::uint32_t lfEndingCrLf = m.lf & (m.cr << 1 | std::uint32_t(afterCR_));
            lines_ += std::popcount(m.cr) + std::popcount(m.lf & ~lfEndingCrLf);
            breaks_ += std::popcount(m.cr | m.lf);
            afterCR_ = m.cr >> 31;
        }
#endif
        for (; i < size; ++i) {
            const bool cr = data[i] == '\r';
            if (cr || data[i] == '\n') {
                lines_ += cr || !afterCR_;
                ++breaks_;
            }
            afterCR_ = cr;
        }
        total_ += size;
        if (size > 0)
            open_ = data[size - 1] != '\r' && data[size - 1] != '\n';
    }
    // A last line without a line end counts too.
    qsizetype lines() const {
        return lines_ + qsizetype(open_);
    }
    qsizetype textBytes() const {
        return total_ - breaks_;
    }

private:
    qsizetype lines_ = 0;
    qsizetype breaks_ = 0;
    qsizetype total_ = 0;
    bool afterCR_ = false;
    bool open_ = false;
};

// Cuts byte text into lines: CR, LF and CR LF each end one. Each line goes to line(bytes).
template <class Line> class LineCutter {
public:
    explicit LineCutter(Line line) : line_(std::move(line)) {}

    void feed(QByteArrayView chunk) {
        const char *data = chunk.data();
        const qsizetype size = chunk.size();
        qsizetype pos = 0; // where the current line starts
        if (pendingCR_ && size > 0) {
            pendingCR_ = false;
            if (data[0] == '\n')
                pos = 1; // the LF of a CR LF split between chunks
        }
        forEachLineBreak(data, size, [&](qsizetype end) {
            if (end < pos)
                return; // the LF of a CR LF
            if (partial_.isEmpty()) {
                line_(QByteArrayView(data + pos, end - pos));
            } else {
                partial_.append(data + pos, end - pos);
                line_(QByteArrayView(partial_));
                partial_.clear();
            }
            pos = end + 1;
            if (data[end] == '\r') {
                if (end + 1 == size)
                    pendingCR_ = true;
                else if (data[end + 1] == '\n')
                    pos = end + 2;
            }
        });
        if (pos < size)
            partial_.append(data + pos, size - pos);
    }

    // What follows the last line end is a line of its own unless it is empty.
    void finish() {
        if (!partial_.isEmpty()) {
            line_(QByteArrayView(partial_));
            partial_.clear();
        }
    }

private:
    Line line_;
    QByteArray partial_;
    bool pendingCR_ = false;
};

// Collects the lines and hands them to the sink in batches.
class LineSplitter {
    struct Append {
        TextStore *lines;
        void operator()(QByteArrayView line) const { lines->appendBytes(line); }
    };

public:
    explicit LineSplitter(const LineSink &sink) : sink_(sink), cutter_(Append{&lines_}) {}

    void feed(QByteArrayView chunk) { cutter_.feed(chunk); }
    void finish() {
        cutter_.finish();
        flush();
    }
    void flush() {
        if (!lines_.isEmpty()) {
            sink_(lines_);
            // Room for a batch like this one at once, rather than growing into it again.
            const qsizetype lines = lines_.size();
            const auto bytes = qsizetype(lines_.textBytes());
            lines_.clear();
            lines_.reserveMore(lines + lines / 8, bytes + bytes / 8);
        }
    }

private:
    const LineSink &sink_;
    TextStore lines_;
    LineCutter<Append> cutter_;
};

// Checks text for UTF-8 piece by piece; a sequence may be cut between pieces.
class Utf8Check {
public:
    void feed(QByteArrayView bytes) {
        if (!tail_.isEmpty()) {
            while (!bytes.isEmpty() && tail_.size() < 4 && (uchar(bytes.front()) & 0xC0) == 0x80) {
                tail_ += bytes.front();
                bytes = bytes.sliced(1);
            }
            if (bytes.isEmpty() && tail_.size() < 4)
                return; // the sequence may go on in the next piece
            valid_ = valid_ && QByteArrayView(tail_).isValidUtf8();
            tail_.clear();
        }
        // Cut before the last byte that is not a continuation byte.
        qsizetype cut = bytes.size();
        while (cut > 0 && (uchar(bytes[cut - 1]) & 0xC0) == 0x80 && bytes.size() - cut < 4)
            --cut;
        cut = cut > 0 ? cut - 1 : 0;
        valid_ = valid_ && bytes.first(cut).isValidUtf8();
        tail_ = bytes.sliced(cut).toByteArray();
    }
    bool finish() {
        valid_ = valid_ && QByteArrayView(tail_).isValidUtf8();
        tail_.clear();
        return valid_;
    }

private:
    QByteArray tail_;
    bool valid_ = true;
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

// Reads a device block by block. A read that fails after some bytes came in first hands over
// those bytes and throws on the next call.
class BlockReader {
public:
    explicit BlockReader(QIODevice &device) : device_(device) {}

    // An empty block at the end.
    const QByteArray &next() {
        if (failure_)
            throw *failure_;
        block_.resize(BlockSize);
        qsizetype filled = 0;
        // A pipe hands over what it has; fill the block so that kept blocks are not mostly empty.
        while (filled < BlockSize) {
            const qint64 got = device_.read(block_.data() + filled, BlockSize - filled);
            if (got < 0) {
                failure_ = Failure(device_.errorString().isEmpty()
                                       ? QStringLiteral("Input past end of file")
                                       : device_.errorString());
                if (filled == 0)
                    throw *failure_;
                break;
            }
            if (got == 0)
                break;
            filled += qsizetype(got);
        }
        block_.truncate(filled);
        total_ += filled;
        return block_;
    }
    qint64 total() const { return total_; }

private:
    QIODevice &device_;
    QByteArray block_;
    std::optional<Failure> failure_;
    qint64 total_ = 0;
};

// After each block, with how far reading has come in bytes. Without turns, batches stay one
// block small.
void next(TimeSlice *slice, LineSplitter &splitter, qint64 done) {
    if (!slice) {
        splitter.flush();
    } else if (slice->due()) {
        slice->setStepDone(done);
        slice->yield();
        // The list takes its batch in a turn of its own: the view catches up on the next one.
        if (slice->handOver()) {
            splitter.flush();
            slice->yield();
        }
    }
}

// What a first pass over 8-bit text learnt.
struct Survey {
    bool utf8 = true;
    qsizetype lines = 0;
    qsizetype textBytes = 0; // without the line ends
    qint64 bytes = 0;        // read before the end or a failure
    std::optional<Failure> failure;
};

// Reads the rest of the device once to learn whether it is UTF-8 and how many lines and bytes
// of text it holds. A sequential device cannot be read again, so its blocks are kept.
Survey survey(QIODevice &device, TimeSlice *slice, std::deque<QByteArray> *kept) {
    Survey result;
    Utf8Check check;
    LineCounter counter;
    BlockReader reader(device);
    try {
        for (;;) {
            const QByteArray &block = reader.next();
            if (block.isEmpty())
                break;
            check.feed(block);
            counter.feed(block);
            if (kept)
                kept->push_back(block);
            if (slice && slice->due()) {
                // Text read twice counts each half of its bytes in either pass.
                slice->setStepDone(reader.total() / 2);
                slice->yield();
            }
        }
    } catch (const Failure &failure) {
        // Judged by what could be read; the lines before the failure are still read.
        result.failure = failure;
    }
    result.utf8 = check.finish();
    result.lines = counter.lines();
    result.textBytes = counter.textBytes();
    result.bytes = reader.total();
    return result;
}

// Decodes 8-bit text that was surveyed before: read again from a file, or from the kept blocks
// of a sequential device. Stops where the survey stopped.
void read8Bit(QIODevice &device, bool keepUtf8Marked, TimeSlice *slice, LineSplitter &splitter,
              const LineSpace &space) {
    std::deque<QByteArray> kept;
    const bool sequential = device.isSequential();
    const qint64 start = sequential ? 0 : device.pos();
    const Survey found = survey(device, slice, sequential ? &kept : nullptr);
    if (space)
        space(found.utf8 ? found.lines : 0, found.utf8 ? found.textBytes : qsizetype(found.bytes));
    if (!sequential && !device.seek(start))
        throw Failure(device.errorString());

    EightBitDecoder eightBit(keepUtf8Marked);
    BlockReader reader(device);
    qint64 left = found.bytes;
    while (left > 0) {
        QByteArray block;
        if (sequential) {
            block = std::move(kept.front());
            kept.pop_front();
        } else {
            block = reader.next();
            if (block.isEmpty())
                break; // the file got shorter meanwhile
            block.truncate(qsizetype(std::min<qint64>(left, block.size())));
        }
        left -= block.size();
        if (found.utf8)
            splitter.feed(block);
        else
            splitter.feed(eightBit.decode(block, false));
        next(slice, splitter, found.bytes - left / 2);
    }
    splitter.feed(eightBit.decode({}, true)); // a sequence cut off at the very end
    if (found.failure)
        throw *found.failure;
}

void readUtf16(QIODevice &device, QStringConverter::Encoding encoding, TimeSlice *slice,
               LineSplitter &splitter) {
    QStringDecoder utf16(encoding, QStringConverter::Flag::ConvertInitialBom);
    QString heldHighSurrogate;
    BlockReader reader(device);
    for (;;) {
        const QByteArray &block = reader.next();
        if (block.isEmpty())
            break;
        // A surrogate pair cut by the block boundary is joined again first.
        QString text = heldHighSurrogate + QString(utf16.decode(block));
        heldHighSurrogate.clear();
        if (!text.isEmpty() && text.back().isHighSurrogate()) {
            heldHighSurrogate = text.back();
            text.chop(1);
        }
        splitter.feed(TextStore::encode(text));
        next(slice, splitter, reader.total());
    }
    if (!heldHighSurrogate.isEmpty())
        splitter.feed(TextStore::encode(heldHighSurrogate));
    // A dangling half of a UTF-16 unit still shows up rather than vanishing.
    if (reader.total() & 1)
        splitter.feed("\xEF\xBF\xBD");
}
} // namespace

QByteArrayView windows1252ToUtf8(uchar byte) {
    return windows1252().utf8[byte];
}

void readListLines(QIODevice &device, TimeSlice *slice, const LineSink &sink,
                   const LineSpace &space) {
    LineSplitter splitter(sink);
    try {
        const QByteArray head = device.peek(3);
        if (head.startsWith("\xFF\xFE") || head.startsWith("\xFE\xFF")) {
            device.skip(2);
            if (space && !device.isSequential())
                space(0, qsizetype(device.size()));
            readUtf16(device,
                      head.startsWith("\xFF\xFE") ? QStringConverter::Utf16LE
                                                  : QStringConverter::Utf16BE,
                      slice, splitter);
        } else {
            const bool marked = head.startsWith("\xEF\xBB\xBF");
            if (marked)
                device.skip(3);
            read8Bit(device, marked, slice, splitter, space);
        }
        splitter.finish();
    } catch (const Failure &) {
        splitter.flush(); // the complete lines read so far; a cut-off line is not one
        throw;
    }
}
