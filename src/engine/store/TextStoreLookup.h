#pragma once

#include "TextStore.h"

#include <algorithm>
#include <cstdint>
#include <vector>

// Looks items up in a store that does not change meanwhile, for a loop that reads them at
// random: a reference to an item's bytes in 32 bits finds them through the chunks' buffers
// listed side by side, without a look at the chunk's end offsets.
class TextStore::Lookup {
public:
    explicit Lookup(const TextStore &store);
    // A reference holds where the bytes begin in the chunk's buffer and how many there are,
    // for the usual short texts; others have NoRef in the low byte.
    static constexpr std::uint32_t NoRef = 0xFF;
    QByteArrayView bytes(qsizetype index, std::uint32_t ref) const {
        if ((ref & NoRef) == NoRef) [[unlikely]]
            return store_.bytes(index);
        return QByteArrayView(buffers_[store_.index_.place(index).chunk] + (ref >> 8),
                              qsizetype(ref & NoRef));
    }
    // Calls f(index, bytes, ref) for the items [first, end) in order.
    template <class F> void forEach(qsizetype first, qsizetype end, F &&f) const {
        for (qsizetype i = first; i < end;) {
            const ChunkIndex::Place p = store_.index_.place(i);
            const TextChunk &chunk = store_.index_.chunk(p.chunk);
            const auto to = std::uint32_t(std::min<qsizetype>(chunk.size(), p.item + (end - i)));
            std::uint32_t begin = chunk.spanBegin(p.item);
            for (std::uint32_t item = p.item; item < to; ++item, ++i) {
                const std::uint32_t stop = chunk.ends[item];
                if (stop & TextChunk::AsideFlag) [[unlikely]] {
                    f(i, chunk.asideText(item), NoRef);
                    begin = stop & TextChunk::OffsetMask;
                    continue;
                }
                const std::uint32_t length = stop - begin;
                f(i, QByteArrayView(chunk.bytes.data() + begin, qsizetype(length)),
                  length < NoRef && begin < (1u << 24) ? begin << 8 | length : NoRef);
                begin = stop;
            }
        }
    }

private:
    const TextStore &store_;
    std::vector<const char *> buffers_;
};
