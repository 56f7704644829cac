#pragma once

#include "engine/store/TextStoreLookup.h"

#include <algorithm>
#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

// Pairs the copies of each value of one partition at a time, in a table sized to the
// partition (small enough to stay in the processor's cache). A copy that finds its partner
// waiting marks the partner's bit: the earlier copy of a pair is what is reported. Each
// thread has a pairer of its own, so the marks are never shared while they are set.
class PartitionPairer {
public:
    // For the count items of a list, which items looks up; it must last as long as the pairer.
    PartitionPairer(const TextStore::Lookup &items, qsizetype count);
    ~PartitionPairer();

    // Copies looked up between pauses.
    static constexpr std::size_t PauseEvery = 4096;
    // The slots of the table for a partition of this many copies: never more than three
    // quarters full, however few values the copies hold.
    static std::size_t tableSlots(std::size_t count) {
        return std::max<std::size_t>(16, count / 3 * 4 + 4);
    }

    // A copy of a value: the item's hash, its position and the reference to its bytes.
    struct Copy {
        std::uint64_t hash;
        std::uint32_t position;
        std::uint32_t ref;
    };
    // The copies of one partition, in list order.
    void pair(const Copy *copies, std::size_t count, const std::function<void()> &pause);

    // Bit i % 64 of marks()[i / 64] tells whether item i is reported.
    const std::uint64_t *marks() const { return marks_.get(); }
    // Of every partition paired so far.
    qsizetype rows() const { return rows_; }
    qsizetype rowBytes() const { return rowBytes_; }

private:
    bool pass(const Copy *copies, std::size_t count, bool compareAtOnce,
              const std::function<void()> &pause);

    const TextStore::Lookup &items_;
    std::unique_ptr<std::uint64_t[]> marks_;
    std::vector<std::uint32_t> reported_; // of the partition being paired
    std::unique_ptr<std::uint64_t[]> slots_;
    std::size_t capacity_ = 0;
    qsizetype rows_ = 0;
    qsizetype rowBytes_ = 0;
};
