#pragma once

#include <QByteArrayView>
#include <QString>

#include <cstdint>
#include <memory>
#include <vector>

// An ordered list of texts kept as UTF-8 in one buffer with one end offset per text.
// Copies share the data until one of them changes (a copy is a cheap snapshot).
// Texts are stored so that equal texts have equal bytes, lone surrogates included.
// Editing or removing a text in the middle moves no bytes: a text of another length is kept
// aside, and its item keeps its unused span of the buffer (see setText and remove).
class TextStore {
public:
    TextStore();

    qsizetype size() const { return qsizetype(d_->ends.size()); }
    bool isEmpty() const { return d_->ends.empty(); }

    QString text(qsizetype index) const;
    QByteArrayView bytes(qsizetype index) const {
        const std::uint64_t end = d_->ends[size_t(index)];
        if (end & AsideFlag) [[unlikely]]
            return asideText(index);
        const std::uint64_t begin = index == 0 ? 0 : d_->ends[size_t(index) - 1] & OffsetMask;
        return QByteArrayView(d_->bytes.data() + begin, qsizetype(end - begin));
    }

    // Starts fetching where the text of an item is kept, for a loop that reads it soon.
    void prefetch([[maybe_unused]] qsizetype index) const {
#if defined(__GNUC__) || defined(__clang__)
        __builtin_prefetch(d_->ends.data() + index);
        if (index > 0)
            __builtin_prefetch(d_->ends.data() + index - 1);
#endif
    }

    void append(QStringView text);
    // bytes must come from bytes() of a store or be valid UTF-8.
    void appendBytes(QByteArrayView bytes);
    void append(const TextStore &other);
    // Makes room for append(other), so that it cannot run out of memory.
    void reserveFor(const TextStore &other);
    void setText(qsizetype index, QStringView text);
    // Exchanges the texts of two items as stored bytes, never decoding them; neighbours in
    // the buffer trade places without a copy.
    void exchange(qsizetype a, qsizetype b);
    void remove(qsizetype index);
    void clear();
    // Room for this many more texts and bytes, so a large load does not copy the buffers
    // over and over as they grow.
    void reserveMore(qsizetype items, qsizetype bytes);
    // The bytes reserveMore or reserveFor would allocate, copies of a shared store included.
    qint64 growthCost(qsizetype items, qsizetype bytes) const;
    qint64 growthCost(const TextStore &other) const;

    // Memory held for the texts, for the benchmark.
    std::size_t bytesAllocated() const;
    std::size_t textBytes() const {
        return d_->bytes.size();
    }

    static QByteArray encode(QStringView text);
    static QString decode(QByteArrayView bytes);

private:
    // Set in ends[i] when the text of item i is kept aside; the offset bits still end the
    // span of the buffer that the item owns.
    static constexpr std::uint64_t AsideFlag = std::uint64_t(1) << 63;
    static constexpr std::uint64_t OffsetMask = AsideFlag - 1;

    struct Aside {
        std::uint64_t index;
        std::uint64_t begin; // in asideBytes
        std::uint64_t length;
    };
    struct Data {
        std::vector<char> bytes;
        std::vector<std::uint64_t> ends;
        std::vector<Aside> aside; // sorted by index
        std::vector<char> asideBytes;
        std::uint64_t unusedBytes = 0; // spans of the buffer held by items kept aside
    };
    QByteArrayView asideText(qsizetype index) const;
    void setBytes(std::size_t index, QByteArrayView encoded);
    std::uint64_t spanBegin(std::size_t index) const {
        return index == 0 ? 0 : d_->ends[index - 1] & OffsetMask;
    }
    std::vector<Aside>::iterator findAside(std::size_t index);
    void putAside(std::size_t index, QByteArrayView text);
    void dropAside(std::size_t index);
    void compactIfWasteful();
    void detach();
    // append(other) would share other's data rather than copy it.
    bool sharesOnAppend(const TextStore &other) const {
        return isEmpty() && d_->bytes.capacity() == 0 && other.d_ != d_;
    }
    qsizetype allBytes() const {
        return qsizetype(d_->bytes.size() + d_->asideBytes.size());
    }
    template <class V> static void growFor(V &v, std::size_t extra);

    std::shared_ptr<Data> d_;
};

// Hands batch to sink and empties it, keeping room for a batch like it at once rather than
// growing into it again. An empty batch is not handed over.
template <class Sink> void handOverBatch(TextStore &batch, const Sink &sink) {
    if (batch.isEmpty())
        return;
    sink(batch);
    const qsizetype count = batch.size();
    const auto bytes = qsizetype(batch.textBytes());
    batch.clear();
    batch.reserveMore(count + count / 8, bytes + bytes / 8);
}
