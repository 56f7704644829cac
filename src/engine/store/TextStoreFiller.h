#pragma once

#include "TextStore.h"

#include <cstdint>

// Appends text after text for a reader, with less to do for each than appendBytes: it writes
// into the last chunk's room directly and counts what it added only when that runs out, or
// at settle(). Until then nothing else may read or change the store.
class TextStore::Filler {
public:
    explicit Filler(TextStore &store) : store_(store) {}
    Filler(const Filler &) = delete;
    Filler &operator=(const Filler &) = delete;
    ~Filler() { settle(); }

    // bytes as for appendBytes.
    void append(QByteArrayView bytes) {
        const auto length = std::size_t(bytes.size());
        if (ends_ != endsEnd_ && length <= std::size_t(bytesEnd_ - out_) &&
            length <= std::size_t(TextChunk::LongText)) [[likely]] {
            out_ = shortbytes::copy(out_, bytes);
            *ends_++ = std::uint32_t(out_ - base_);
            return;
        }
        settle();
        store_.appendBytes(bytes);
        open();
    }
    // Leaves the store whole, to be read or changed.
    void settle();

private:
    // Takes the room of a last chunk that is the store's alone.
    void open();

    TextStore &store_;
    TextChunk *chunk_ = nullptr; // while open
    char *base_ = nullptr, *out_ = nullptr, *bytesEnd_ = nullptr;
    std::uint32_t *ends_ = nullptr, *endsEnd_ = nullptr;
    std::size_t items_ = 0, bytes_ = 0; // the chunk's at open()
};
