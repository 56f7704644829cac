#pragma once

#include "ChunkIndex.h"
#include "engine/core/ShortBytes.h"
#include "TextChunk.h"

#include <QByteArray>
#include <QByteArrayView>
#include <QString>

#include <algorithm>
#include <cstdint>
#include <functional>
#include <utility>

// An ordered list of texts kept as UTF-8 in chunks of a few thousand items (TextChunk), each
// chunk one buffer with one end offset per text. Copies share the chunks until one of them
// changes a chunk, which it then copies alone: a copy is a cheap snapshot, and an edit beside
// a snapshot costs no more than one chunk.
// Texts are stored so that equal texts have equal bytes, lone surrogates included.
class TextStore {
public:
    qsizetype size() const { return index_.size(); }
    bool isEmpty() const { return index_.size() == 0; }

    QString text(qsizetype index) const;
    QByteArrayView bytes(qsizetype index) const {
        const ChunkIndex::Place p = index_.place(index);
        return index_.chunk(p.chunk).text(p.item);
    }

    // Reads items at random in a store that does not change meanwhile (TextStoreLookup.h).
    class Lookup;

    void append(QStringView text);
    // bytes must come from bytes() of a store or be valid UTF-8.
    void appendBytes(QByteArrayView bytes) {
        // Most appends put a short text into a last chunk that has room and is this store's
        // alone: that much is done inline, for a reader that appends line after line.
        if (TextChunk *last = index_.openLast()) {
            TextChunk &c = *last;
            const auto length = std::size_t(bytes.size());
            if (c.ends.size() < std::min<std::size_t>(ChunkItems, c.ends.capacity()) &&
                length <= std::size_t(TextChunk::LongText) &&
                c.bytes.capacity() - c.bytes.size() >= length) {
                const std::size_t at = c.bytes.size();
                c.bytes.resize(at + length);
                shortbytes::copy(c.bytes.data() + at, bytes);
                c.ends.push_back(std::uint32_t(c.bytes.size()));
                index_.grew(1);
                textBytes_ += length;
                return;
            }
        }
        appendBytesMakingRoom(bytes);
    }

    // Appends text after text for a reader (TextStoreFiller.h).
    class Filler;
    // For an empty store about to take about this many items one by one, whose texts take
    // bytes in the chunks' buffers (bufferBytes()): its first chunk makes room for them at
    // once, rather than growing by half again and again.
    void expect(qsizetype items, qsizetype bytes) {
        if (isEmpty())
            expected_ = {items, bytes};
    }
    // What a text takes in a chunk's buffer: a long one takes nothing, being kept aside.
    static qsizetype bufferBytes(QByteArrayView text) {
        return text.size() > TextChunk::LongText ? 0 : text.size();
    }
    // Leaves this store as it was when it runs out of memory. beforeChange runs once every
    // allocation is made, just before the size changes; the items read as before until then.
    void append(const TextStore &other, const std::function<void()> &beforeChange = {});
    void setText(qsizetype index, QStringView text);
    // Exchanges the texts of two items as stored bytes, never decoding them; neighbours in
    // a buffer trade places without a copy, a long text moves without a copy.
    void exchange(qsizetype a, qsizetype b);
    // Makes every allocation remove(index) needs, so that the remove cannot fail after it.
    void prepareRemove(qsizetype index);
    // Leaves this store as it was when it runs out of memory.
    void remove(qsizetype index);
    void clear();
    // Takes the items out but for those of a last chunk that is not full, for an append that
    // shares their chunks.
    TextStore takeWholeChunks();
    // About the bytes appending this much would allocate, a shared chunk's copy included.
    qint64 growthCost(qsizetype items, qsizetype bytes) const;
    qint64 growthCost(const TextStore &other) const;

    // Memory held for the texts, for the benchmark.
    std::size_t bytesAllocated() const;
    // The bytes of all texts.
    std::size_t textBytes() const { return textBytes_; }

    static QByteArray encode(QStringView text);
    static QString decode(QByteArrayView bytes);

    // Items a chunk holds. Appending a store whose items fill whole chunks to one that ends
    // on a whole chunk shares them.
    static constexpr std::uint32_t ChunkItems = TextChunk::Items;

private:
    void appendBytesMakingRoom(QByteArrayView bytes);

    ChunkIndex index_;
    std::size_t textBytes_ = 0;
    std::pair<qsizetype, qsizetype> expected_{0, 0}; // items and bytes; see expect()
};

// Hands batch to sink and empties it. An empty batch is not handed over.
template <class Sink> void handOverBatch(TextStore &batch, const Sink &sink) {
    if (batch.isEmpty())
        return;
    sink(batch);
    batch.clear();
}
