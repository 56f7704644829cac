#pragma once

// Cutting byte text into lines: CR, LF and CR LF each end one, also where a CR LF or a line
// is split between the blocks of a read.
#include <QByteArray>
#include <QByteArrayView>

#include <bit>
#include <cstdint>

#ifdef __SSE2__
#include <emmintrin.h>

// Bit k of cr (lf) tells whether byte k of the 32 at data is a CR (LF).
struct BreakMasks {
    std::uint32_t cr, lf;
};
inline BreakMasks breakMasks(const char *data) {
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

// Calls found(offset) for every CR and LF byte, in order, but an LF right after a CR of data:
// a CR LF ends one line. 32 bytes at a time where the processor allows.
template <class Found> void forEachLineBreak(const char *data, qsizetype size, Found &&found) {
    qsizetype i = 0;
#ifdef __SSE2__
    std::uint32_t afterCR = 0;
    for (; i + 32 <= size; i += 32) {
        const BreakMasks m = breakMasks(data + i);
        for (std::uint32_t mask = m.cr | (m.lf & ~(m.cr << 1 | afterCR)); mask != 0;
             mask &= mask - 1)
            found(i + std::countr_zero(mask));
        afterCR = m.cr >> 31;
    }
#endif
    for (; i < size; ++i)
        if (data[i] == '\r' || (data[i] == '\n' && (i == 0 || data[i - 1] != '\r')))
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
                return; // the LF of a CR LF split between chunks
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

    // The bytes of the line not yet ended.
    qsizetype pending() const { return partial_.size(); }

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
