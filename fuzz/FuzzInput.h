#pragma once

#include <QByteArray>
#include <QString>

#include <cstdio>
#include <cstdlib>

// Reads the fuzzer's bytes front to back; past the end every read gives zero.
class FuzzInput {
public:
    FuzzInput(const unsigned char *data, size_t size)
        : data_(reinterpret_cast<const char *>(data)), size_(size) {}

    bool atEnd() const { return pos_ >= size_; }
    unsigned byte() { return pos_ < size_ ? uchar(data_[pos_++]) : 0; }
    QByteArray rest() {
        const QByteArray bytes(data_ + pos_, qsizetype(size_ - pos_));
        pos_ = size_;
        return bytes;
    }

    // A short text over a small alphabet, so that equal texts are common. Byte values pick
    // letters, blanks, a non-BMP character and lone surrogates.
    QString text(int maxLength) {
        static const char16_t alphabet[] = {u'a', u'b', u'A', u' ', u',', 0xE9, 0xD83D, 0xDE00};
        QString out;
        const int length = int(byte() % unsigned(maxLength + 1));
        for (int i = 0; i < length; ++i)
            out += QChar(alphabet[byte() % std::size(alphabet)]);
        return out;
    }

private:
    const char *data_;
    size_t size_;
    size_t pos_ = 0;
};

// Stops the run with the finding written out.
#define FUZZ_CHECK(condition)                                                                      \
    do {                                                                                           \
        if (!(condition)) {                                                                        \
            std::fprintf(stderr, "check failed: %s (%s:%d)\n", #condition, __FILE__, __LINE__);    \
            std::abort();                                                                          \
        }                                                                                          \
    } while (false)
