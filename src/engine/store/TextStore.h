#pragma once

#include "engine/core/ShortBytes.h"

#include <QByteArray>
#include <QByteArrayView>
#include <QString>

#include <algorithm>
#include <cstdint>
#include <functional>
#include <limits>
#include <memory>
#include <utility>
#include <vector>

// An ordered list of texts kept as UTF-8 in chunks of a few thousand items, each chunk one
// buffer with one end offset per text. Copies share the chunks until one of them changes a
// chunk, which it then copies alone: a copy is a cheap snapshot, and an edit beside a
// snapshot costs no more than one chunk.
// Texts are stored so that equal texts have equal bytes, lone surrogates included.
// A long text, or one edited to another length, is kept aside in its own buffer, so that
// edits move no bytes of other texts and long texts move between items without a copy.
class TextStore {
public:
    TextStore();

    qsizetype size() const { return size_; }
    bool isEmpty() const { return size_ == 0; }

    QString text(qsizetype index) const;
    QByteArrayView bytes(qsizetype index) const {
        const Place p = place(index);
        return chunks_[p.chunk]->text(p.item);
    }

    // Looks items up in a store that does not change meanwhile, for a loop that reads them
    // at random: a reference to an item's bytes in 32 bits finds them through the chunks'
    // buffers listed side by side, without a look at the chunk's end offsets.
    class Lookup {
    public:
        explicit Lookup(const TextStore &store);
        // A reference holds where the bytes begin in the chunk's buffer and how many there
        // are, for the usual short texts; others have NoRef in the low byte.
        static constexpr std::uint32_t NoRef = 0xFF;
        QByteArrayView bytes(qsizetype index, std::uint32_t ref) const {
            if ((ref & NoRef) == NoRef) [[unlikely]]
                return store_.bytes(index);
            return QByteArrayView(buffers_[store_.place(index).chunk] + (ref >> 8),
                                  qsizetype(ref & NoRef));
        }
        // Calls f(index, bytes, ref) for the items [first, end) in order.
        template <class F> void forEach(qsizetype first, qsizetype end, F &&f) const {
            for (qsizetype i = first; i < end;) {
                const Place p = store_.place(i);
                const Chunk &chunk = *store_.chunks_[p.chunk];
                const auto to =
                    std::uint32_t(std::min<qsizetype>(chunk.size(), p.item + (end - i)));
                std::uint32_t begin = chunk.spanBegin(p.item);
                for (std::uint32_t item = p.item; item < to; ++item, ++i) {
                    const std::uint32_t stop = chunk.ends[item];
                    if (stop & AsideFlag) [[unlikely]] {
                        f(i, chunk.asideText(item), NoRef);
                        begin = stop & OffsetMask;
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

    void append(QStringView text);
    // bytes must come from bytes() of a store or be valid UTF-8.
    void appendBytes(QByteArrayView bytes) {
        // Most appends put a short text into a last chunk that has room and is this store's
        // alone: that much is done inline, for a reader that appends line after line.
        if (!chunks_.empty() && regular_) {
            Chunk &c = *chunks_.back();
            const auto length = std::size_t(bytes.size());
            if (c.ends.size() < std::min<std::size_t>(ChunkItems, c.ends.capacity()) &&
                length <= std::size_t(LongText) && c.bytes.capacity() - c.bytes.size() >= length &&
                chunks_.back().use_count() == 1) {
                const std::size_t at = c.bytes.size();
                c.bytes.resize(at + length);
                shortbytes::copy(c.bytes.data() + at, bytes);
                c.ends.push_back(std::uint32_t(c.bytes.size()));
                ++size_;
                textBytes_ += length;
                return;
            }
        }
        appendBytesMakingRoom(bytes);
    }

private:
    struct Chunk;

public:
    // Appends text after text for a reader, with less to do for each than appendBytes: it
    // writes into the last chunk's room directly and counts what it added only when that
    // runs out, or at settle(). Until then nothing else may read or change the store.
    class Filler {
    public:
        explicit Filler(TextStore &store) : store_(store) {}
        Filler(const Filler &) = delete;
        Filler &operator=(const Filler &) = delete;
        ~Filler() { settle(); }

        // bytes as for appendBytes.
        void append(QByteArrayView bytes) {
            const auto length = std::size_t(bytes.size());
            if (ends_ != endsEnd_ && length <= std::size_t(bytesEnd_ - out_) &&
                length <= std::size_t(LongText)) [[likely]] {
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
        Chunk *chunk_ = nullptr; // while open
        char *base_ = nullptr, *out_ = nullptr, *bytesEnd_ = nullptr;
        std::uint32_t *ends_ = nullptr, *endsEnd_ = nullptr;
        std::size_t items_ = 0, bytes_ = 0; // the chunk's at open()
    };
    // For an empty store about to take about this many items one by one, whose texts take
    // bytes in the chunks' buffers (bufferBytes()): its first chunk makes room for them at
    // once, rather than growing by half again and again.
    void expect(qsizetype items, qsizetype bytes) {
        if (isEmpty())
            expected_ = {items, bytes};
    }
    // What a text takes in a chunk's buffer: a long one takes nothing, being kept aside.
    static qsizetype bufferBytes(QByteArrayView text) {
        return text.size() > LongText ? 0 : text.size();
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
    static constexpr int ChunkShift = 12;
    static constexpr std::uint32_t ChunkItems = 1u << ChunkShift;

private:
    // Longer texts are always kept aside, which bounds a chunk's buffer (and its copy).
    static constexpr qsizetype LongText = 4096;
    // Set in ends[i] when the text of item i is kept aside; the offset bits still end the
    // span of the buffer that the item owns.
    static constexpr std::uint32_t AsideFlag = std::uint32_t(1) << 31;
    static constexpr std::uint32_t OffsetMask = AsideFlag - 1;

    struct Aside {
        std::uint32_t item;
        QByteArray text; // shared, never written
    };
    // Leaves the bytes a buffer grows by as they are, for the text about to be copied in.
    template <class T> struct Uninitialized : std::allocator<T> {
        template <class U> struct rebind { using other = Uninitialized<U>; };
        template <class U> void construct(U *) noexcept {}
        template <class U, class... Args> void construct(U *at, Args &&...args) {
            ::new (static_cast<void *>(at)) U(std::forward<Args>(args)...);
        }
    };
    struct Chunk {
        std::vector<char, Uninitialized<char>> bytes;
        std::vector<std::uint32_t> ends;
        std::vector<Aside> aside;      // sorted by item
        std::uint32_t unusedBytes = 0; // spans of the buffer held by items kept aside
        std::uint32_t shortAsideBytes = 0;
        std::uint32_t shortAsideCount = 0;

        std::uint32_t size() const { return std::uint32_t(ends.size()); }
        std::uint32_t spanBegin(std::uint32_t item) const {
            return item == 0 ? 0 : ends[item - 1] & OffsetMask;
        }
        QByteArrayView text(std::uint32_t item) const {
            const std::uint32_t end = ends[item];
            if (end & AsideFlag) [[unlikely]]
                return asideText(item);
            const std::uint32_t begin = spanBegin(item);
            return QByteArrayView(bytes.data() + begin, qsizetype(end - begin));
        }
        QByteArrayView asideText(std::uint32_t item) const;
        std::vector<Aside>::iterator findAside(std::uint32_t item);
        bool asideIn(std::uint32_t from, std::uint32_t to) const;
        // The buffer bytes that appendRange(*this, from, to) adds.
        std::size_t bufferBytes(std::uint32_t from, std::uint32_t to) const;
        // Room must have been made for a text of up to LongText bytes; a longer one is
        // shared when given as kept.
        void appendText(QByteArrayView text, const QByteArray *kept);
        void appendRange(const Chunk &source, std::uint32_t from, std::uint32_t to);
        void set(std::uint32_t item, const QByteArray &text, bool compact = true);
        void putAside(std::uint32_t item, const QByteArray &text);
        void dropAside(std::uint32_t item);
        void remove(std::uint32_t item);
        void compactIfWasteful();
        void truncate(std::size_t items, std::size_t bytes, std::size_t asides);
    };
    struct Place {
        std::size_t chunk;
        std::uint32_t item;
    };
    Place place(qsizetype index) const {
        if (regular_) [[likely]] {
            const auto slot = std::size_t(index + (index >= gapAt_ ? gap_ : 0));
            return {slot >> ChunkShift, std::uint32_t(slot) & (ChunkItems - 1)};
        }
        std::size_t c = pages_[std::size_t(index) >> ChunkShift];
        while (starts_[c + 1] <= index)
            ++c;
        return {c, std::uint32_t(index - starts_[c])};
    }
    void appendBytesMakingRoom(QByteArrayView bytes);
    // Calls f(chunk, from, to) for each run of the items [first, first + count) in one chunk.
    template <class F> void forRuns(qsizetype first, qsizetype count, F &&f) const;
    // The chunk, copied first if it is shared.
    Chunk &own(std::size_t chunk);
    // After chunks changed sizes or were removed from c on.
    void renumberFrom(std::size_t c);
    void mergeSmall(std::size_t c);
    // Whether append(other) shares the other's chunks: from a chunk's boundary, or after a
    // short chunk when the other is large; so long as one short chunk at most comes before
    // the last.
    bool sharesOnAppend(const TextStore &other) const {
        const bool boundary = lastChunkSize() == ChunkItems;
        return regular_ && other.regular_ &&
               int(gap_ > 0) + int(other.gap_ > 0) + int(!boundary) <= 1 &&
               (boundary || other.size() >= ShareFrom);
    }
    static constexpr qsizetype ShareFrom = 8 * ChunkItems;
    std::uint32_t lastChunkSize() const { return chunks_.empty() ? 0 : chunks_.back()->size(); }

    std::vector<std::shared_ptr<Chunk>> chunks_;
    // First item of each chunk, then a sentinel past every index.
    std::vector<qsizetype> starts_;
    // The chunk holding item p * ChunkItems, for each p; kept only while not regular_.
    std::vector<std::uint32_t> pages_;
    qsizetype size_ = 0;
    std::size_t textBytes_ = 0;
    std::pair<qsizetype, qsizetype> expected_{0, 0}; // items and bytes; see expect()
    // Every chunk but the last is full, as after appends only, but for one short chunk that
    // may end at gapAt_, the gap_ items it lacks: item i is in chunk i / ChunkItems, or
    // (i + gap_) / ChunkItems from gapAt_ on.
    bool regular_ = true;
    qsizetype gapAt_ = std::numeric_limits<qsizetype>::max();
    qsizetype gap_ = 0;
};

// Hands batch to sink and empties it. An empty batch is not handed over.
template <class Sink> void handOverBatch(TextStore &batch, const Sink &sink) {
    if (batch.isEmpty())
        return;
    sink(batch);
    batch.clear();
}
