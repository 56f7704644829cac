#include "PartitionPairer.h"

#include "engine/core/ShortBytes.h"

#include <algorithm>
#include <cstring>

namespace {
void fetch([[maybe_unused]] const void *at) {
#if defined(__GNUC__) || defined(__clang__)
    __builtin_prefetch(at);
#endif
}

// A slot: the upper half of the hash, whether the latest copy waits for a partner, and where
// the latest copy is among the partition's copies, plus one (0: an empty slot).
constexpr std::uint64_t TagMask = ~std::uint64_t(0xFFFFFFFF);
constexpr std::uint64_t Waiting = std::uint64_t(1) << 31;
constexpr std::uint64_t IndexMask = Waiting - 1;
// How far ahead of its lookup a copy's slot is fetched.
constexpr std::size_t FetchAhead = 8;

// Pairs of texts (a copy and the latest copy before it) compared once both are fetched. The
// bytes of the reported pairs are counted as they are compared.
class LateChecks {
public:
    void add(QByteArrayView text, QByteArrayView latestText, bool reported) {
        if (added_ >= Ring)
            check(ring_[added_ % Ring]);
        for (const QByteArrayView t : {text, latestText}) {
            fetch(t.data());
            fetch(t.data() + t.size());
        }
        ring_[added_ % Ring] = {text, latestText, reported};
        ++added_;
    }
    // Whether every pair was equal; with the bytes of the reported ones.
    bool finish(qsizetype &rowBytes) {
        for (size_t k = added_ > Ring ? added_ - Ring : 0; k < added_; ++k)
            check(ring_[k % Ring]);
        rowBytes += bytes_;
        return equal_;
    }

private:
    static constexpr size_t Ring = 32;
    struct Pair {
        QByteArrayView text, latestText;
        bool reported;
    };
    void check(const Pair &pair) {
        equal_ = equal_ && shortbytes::same(pair.text, pair.latestText);
        bytes_ += pair.reported ? pair.text.size() : 0;
    }
    Pair ring_[Ring];
    size_t added_ = 0;
    bool equal_ = true;
    qsizetype bytes_ = 0;
};
} // namespace

PartitionPairer::PartitionPairer(const TextStore::Lookup &items, qsizetype count)
    : items_(items), marks_(std::make_unique<std::uint64_t[]>(size_t(count) / 64 + 1)) {}

PartitionPairer::~PartitionPairer() = default;

void PartitionPairer::pair(const Copy *copies, std::size_t count,
                           const std::function<void()> &pause) {
    const std::size_t size = tableSlots(count);
    if (capacity_ < size) {
        slots_.reset();
        slots_ = std::make_unique_for_overwrite<std::uint64_t[]>(size);
        capacity_ = size;
    }
    // Equal hash tags are taken for equal texts at first, and the texts compared a little
    // later, when they have been fetched; should two texts ever differ, the partition is done
    // again comparing each text at once.
    if (!pass(copies, count, false, pause))
        pass(copies, count, true, pause);
    // Marked only now, in a loop of independent writes, rather than each as it is found,
    // where every mark would wait for its word to be fetched.
    for (const std::uint32_t item : reported_)
        marks_[item / 64] |= std::uint64_t(1) << (item % 64);
}

bool PartitionPairer::pass(const Copy *copies, std::size_t count, bool compareAtOnce,
                           const std::function<void()> &pause) {
    auto text = [&](std::size_t k) { return items_.bytes(copies[k].position, copies[k].ref); };
    const std::size_t size = tableSlots(count);
    std::uint64_t *table = slots_.get();
    std::memset(table, 0, size * sizeof(std::uint64_t));
    // Where a hash's probe starts: its lower half scaled to the table, which need not be a
    // power of two.
    auto home = [&](std::uint64_t h) { return std::size_t((h & 0xFFFFFFFF) * size >> 32); };
    LateChecks checks;
    qsizetype rowBytes = 0;
    reported_.clear();
    for (std::size_t k = 0; k < count; ++k) {
        if (k % PauseEvery == 0)
            pause();
        if (k + FetchAhead < count)
            fetch(&table[home(copies[k + FetchAhead].hash)]);
        const std::uint64_t h = copies[k].hash;
        const std::uint64_t tag = h & TagMask;
        for (std::size_t slot = home(h);; slot = slot + 1 == size ? 0 : slot + 1) {
            const std::uint64_t entry = table[slot];
            if (entry == 0) {
                table[slot] = tag | Waiting | (std::uint64_t(k) + 1);
                break;
            }
            if ((entry & TagMask) != tag)
                continue;
            const std::size_t latest = std::size_t((entry & IndexMask) - 1);
            const bool reported = entry & Waiting;
            if (compareAtOnce) {
                const QByteArrayView itemText = text(k);
                if (!shortbytes::same(text(latest), itemText))
                    continue;
                rowBytes += reported ? itemText.size() : 0;
            } else {
                checks.add(text(k), text(latest), reported);
            }
            if (reported) {
                reported_.push_back(copies[latest].position);
                table[slot] = tag | (std::uint64_t(k) + 1);
            } else {
                table[slot] = tag | Waiting | (std::uint64_t(k) + 1);
            }
            break;
        }
    }
    if (!compareAtOnce && !checks.finish(rowBytes))
        return false;
    rows_ += qsizetype(reported_.size());
    rowBytes_ += rowBytes;
    return true;
}
