#pragma once

// Decoding the text of a list file into UTF-8: the Windows-1252 bytes.
#include <QByteArray>
#include <QByteArrayView>

// Turns 8-bit text into UTF-8, each byte of 0x80 or above standing for its Windows-1252
// character. With keepUtf8, valid UTF-8 sequences pass through and only the bytes that belong
// to none are taken that way, so that no byte is lost.
class EightBitDecoder {
public:
    explicit EightBitDecoder(bool keepUtf8) : keepUtf8_(keepUtf8) {}

    // The UTF-8 of chunk; a sequence cut off at its end waits for the next chunk unless
    // last is set.
    QByteArray decode(const QByteArray &chunk, bool last);

private:
    bool keepUtf8_;
    QByteArray carry_;
};
