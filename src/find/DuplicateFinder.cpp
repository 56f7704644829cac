#include "DuplicateFinder.h"

#include "app/TimeSlice.h"

#include <QHashFunctions>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>
#include <vector>

namespace {
struct Free {
    void operator()(void *p) const { std::free(p); }
};

// Zeroed memory that the system hands out as it is touched, not all at once up front, so
// setting up a search of millions of items does not hold up the event loop.
template <class T> std::unique_ptr<T[], Free> zeroed(size_t count) {
    std::unique_ptr<T[], Free> array(
        static_cast<T *>(std::calloc(std::max<size_t>(count, 1), sizeof(T))));
    if (!array)
        throw std::bad_alloc();
    return array;
}

bool isBlank(QByteArrayView text) {
    for (char c : text)
        if (c != ' ')
            return false;
    return true;
}

bool sameBytes(QByteArrayView a, QByteArrayView b) {
    return a.size() == b.size() && std::memcmp(a.data(), b.data(), size_t(a.size())) == 0;
}

// Distinct texts of the list, each known by the position of its first copy. Sized once for
// the whole list, so it never stops to rehash. Each slot keeps part of the hash beside the
// id, so most probes never look at the texts.
class ValueIndex {
public:
    explicit ValueIndex(const TextStore &items) : items_(items) {
        size_t size = 1024;
        while (size < size_t(items.size()) + size_t(items.size()) / 2)
            size *= 2;
        slots_ = zeroed<std::uint64_t>(size);
        mask_ = size - 1;
    }

    static size_t hashOf(QByteArrayView text) {
        return qHashBits(text.data(), size_t(text.size()));
    }

    // Starts fetching the slot a hash lands on, while earlier items are still being looked up.
    void prefetch(size_t hash) const {
#if defined(__GNUC__) || defined(__clang__)
        __builtin_prefetch(&slots_[hash & mask_]);
#else
        Q_UNUSED(hash);
#endif
    }

    std::uint32_t idOf(std::uint32_t item, size_t hash) {
        const QByteArrayView text = items_.bytes(item);
        const auto tag = (std::uint64_t(hash) >> 32) << 32;
        for (size_t slot = hash & mask_;; slot = (slot + 1) & mask_) {
            const std::uint64_t entry = slots_[slot];
            if (entry == 0) {
                const auto id = std::uint32_t(firstItem_.size());
                slots_[slot] = tag | (std::uint64_t(id) + 1);
                firstItem_.push_back(item);
                counts_.push_back(1);
                return id;
            }
            const auto id = std::uint32_t(entry) - 1;
            if ((entry >> 32) == (tag >> 32) && sameBytes(items_.bytes(firstItem_[id]), text)) {
                if (++counts_[id] % 2 == 0) {
                    ++pairs_;
                    pairBytes_ += text.size();
                }
                return id;
            }
        }
    }

    std::vector<std::uint32_t> takeCounts() {
        return std::move(counts_);
    }
    // The rows the search will report, and their bytes.
    qsizetype pairs() const {
        return pairs_;
    }
    qsizetype pairBytes() const {
        return pairBytes_;
    }

private:
    const TextStore &items_;
    std::unique_ptr<std::uint64_t[], Free> slots_;
    size_t mask_ = 0;
    std::vector<std::uint32_t> firstItem_;
    std::vector<std::uint32_t> counts_;
    qsizetype pairs_ = 0;
    qsizetype pairBytes_ = 0;
};
} // namespace

void findDuplicates(const TextStore &items, TimeSlice *slice, const RowSink &sink,
                    const RowSpace &space) {
    const auto n = std::uint32_t(items.size());
    TextStore rows;
    auto flush = [&] {
        if (!rows.isEmpty()) {
            sink(rows);
            rows.clear();
        }
    };
    auto turn = [&](std::uint32_t i) {
        if ((i & 1023) == 0 && slice && slice->due()) {
            flush();
            slice->yield();
        }
    };

    auto valueOf = zeroed<std::uint32_t>(n); // id + 1 of each item's text, 0 for a blank
    std::vector<std::uint32_t> copies;
    {
        ValueIndex index(items);
        // In blocks, so the slots of a block are on their way while the block is looked up.
        constexpr std::uint32_t Block = 16;
        size_t hashes[Block];
        for (std::uint32_t first = 0; first < n; first += Block) {
            turn(first);
            const std::uint32_t end = std::min(n, first + Block);
            for (std::uint32_t i = first; i < end; ++i) {
                const QByteArrayView text = items.bytes(i);
                if (isBlank(text))
                    continue;
                hashes[i - first] = ValueIndex::hashOf(text);
                index.prefetch(hashes[i - first]);
            }
            for (std::uint32_t i = first; i < end; ++i)
                if (!isBlank(items.bytes(i)))
                    valueOf[i] = index.idOf(i, hashes[i - first]) + 1;
        }
        copies = index.takeCounts();
        if (space)
            space(index.pairs(), index.pairBytes());
    }

    auto seen = zeroed<std::uint32_t>(copies.size());
    for (std::uint32_t i = 0; i < n; ++i) {
        turn(i);
        if (valueOf[i] == 0)
            continue;
        const std::uint32_t id = valueOf[i] - 1;
        const std::uint32_t copy = ++seen[id];
        // An odd copy with a later copy to pair with.
        if ((copy & 1) && copy < copies[id])
            rows.appendBytes(items.bytes(i));
    }
    flush();
}
