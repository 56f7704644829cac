#pragma once

#include <QByteArray>
#include <QByteArrayView>

#include <algorithm>
#include <cstdint>
#include <memory>
#include <utility>
#include <vector>

// A few thousand texts of a TextStore side by side in one buffer, with one end offset per
// text. A long text, or one edited to another length, is kept aside in its own buffer, so
// that edits move no bytes of other texts and long texts move between items without a copy.
struct TextChunk {
    // Items a chunk holds.
    static constexpr int Shift = 12;
    static constexpr std::uint32_t Items = 1u << Shift;
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

    // Grows by half rather than doubling, and never past most.
    template <class V> static void growFor(V &v, std::size_t extra, std::size_t most = SIZE_MAX) {
        const std::size_t needed = v.size() + extra;
        if (needed > v.capacity())
            v.reserve(std::max(needed, std::min(v.capacity() + v.capacity() / 2 + 64, most)));
    }

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
    void appendRange(const TextChunk &source, std::uint32_t from, std::uint32_t to);
    void set(std::uint32_t item, const QByteArray &text, bool compact = true);
    void putAside(std::uint32_t item, const QByteArray &text);
    void dropAside(std::uint32_t item);
    void remove(std::uint32_t item);
    void compactIfWasteful();
    void truncate(std::size_t items, std::size_t bytes, std::size_t asides);
    // Memory held, the texts kept aside included.
    std::size_t bytesAllocated() const;
};
