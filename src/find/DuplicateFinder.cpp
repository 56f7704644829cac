#include "DuplicateFinder.h"

#include "app/TimeSlice.h"

#include <QHashFunctions>

#include <cstdint>
#include <cstring>
#include <vector>

namespace {
constexpr std::uint32_t None = UINT32_MAX;

bool isBlank(QByteArrayView text) {
    for (char c : text)
        if (c != ' ')
            return false;
    return true;
}

bool sameBytes(QByteArrayView a, QByteArrayView b) {
    return a.size() == b.size() && std::memcmp(a.data(), b.data(), size_t(a.size())) == 0;
}

// Distinct texts of the list, each known by the position of its first copy.
class ValueIndex {
public:
    explicit ValueIndex(const TextStore &items) : items_(items), slots_(1u << 12, None) {}

    std::uint32_t idOf(std::uint32_t item) {
        const QByteArrayView text = items_.bytes(item);
        const size_t hash = qHashBits(text.data(), size_t(text.size()));
        size_t slot = hash & (slots_.size() - 1);
        while (slots_[slot] != None) {
            const std::uint32_t id = slots_[slot];
            if (hashes_[id] == hash && sameBytes(items_.bytes(firstItem_[id]), text)) {
                ++counts_[id];
                return id;
            }
            slot = (slot + 1) & (slots_.size() - 1);
        }
        const auto id = std::uint32_t(firstItem_.size());
        slots_[slot] = id;
        firstItem_.push_back(item);
        hashes_.push_back(hash);
        counts_.push_back(1);
        if (firstItem_.size() * 2 > slots_.size())
            grow();
        return id;
    }

    std::vector<std::uint32_t> takeCounts() { return std::move(counts_); }

private:
    void grow() {
        std::vector<std::uint32_t> bigger(slots_.size() * 2, None);
        const size_t mask = bigger.size() - 1;
        for (std::uint32_t id = 0; id < firstItem_.size(); ++id) {
            size_t slot = hashes_[id] & mask;
            while (bigger[slot] != None)
                slot = (slot + 1) & mask;
            bigger[slot] = id;
        }
        slots_.swap(bigger);
    }

    const TextStore &items_;
    std::vector<std::uint32_t> slots_;
    std::vector<std::uint32_t> firstItem_;
    std::vector<size_t> hashes_;
    std::vector<std::uint32_t> counts_;
};
} // namespace

void findDuplicates(const TextStore &items, TimeSlice *slice, const RowSink &sink) {
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

    std::vector<std::uint32_t> valueOf(n, None);
    std::vector<std::uint32_t> copies;
    {
        ValueIndex index(items);
        for (std::uint32_t i = 0; i < n; ++i) {
            turn(i);
            if (!isBlank(items.bytes(i)))
                valueOf[i] = index.idOf(i);
        }
        copies = index.takeCounts();
    }

    std::vector<std::uint32_t> seen(copies.size(), 0);
    for (std::uint32_t i = 0; i < n; ++i) {
        turn(i);
        const std::uint32_t id = valueOf[i];
        if (id == None)
            continue;
        const std::uint32_t copy = ++seen[id];
        // An odd copy with a later copy to pair with.
        if ((copy & 1) && copy < copies[id])
            rows.appendBytes(items.bytes(i));
    }
    flush();
}
