#pragma once

#include "PartitionPairer.h"

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <vector>

// The copies one thread deals into partitions in one pass over its stretch of the list: each
// partition's copies go into blocks of their own, in the order they come, so nothing has to be
// counted first. The blocks come from one allocation made for the stretch, which goes back to
// the system whole once the copies are paired.
class DealtCopies {
public:
    static constexpr std::uint32_t BlockItems = 1024;
    using Copy = PartitionPairer::Copy;
    struct Block {
        Copy copies[BlockItems];
    };

    // For a stretch of at most items copies.
    DealtCopies(std::uint32_t parts, std::size_t items)
        : blocks_(parts), filled_(parts, BlockItems),
          arena_(std::make_unique_for_overwrite<Block[]>(items / BlockItems + parts)) {}

    void add(std::uint32_t part, const Copy &copy) {
        std::uint32_t &filled = filled_[part];
        if (filled == BlockItems) {
            blocks_[part].push_back(newBlock());
            filled = 0;
        }
        Block &block = *blocks_[part].back();
        block.copies[filled] = copy;
        ++filled;
    }

    std::size_t count(std::uint32_t part) const {
        const std::size_t blocks = blocks_[part].size();
        return blocks == 0 ? 0 : (blocks - 1) * BlockItems + filled_[part];
    }

    // Copies the partition's copies, in the order they were dealt, to copies; returns how
    // many there were.
    std::size_t copyOut(std::uint32_t part, Copy *copies) const {
        std::size_t at = 0;
        const std::vector<Block *> &blocks = blocks_[part];
        for (std::size_t b = 0; b < blocks.size(); ++b) {
            const std::size_t n = b + 1 == blocks.size() ? filled_[part] : BlockItems;
            std::memcpy(copies + at, blocks[b]->copies, n * sizeof(Copy));
            at += n;
        }
        return at;
    }

    // The most the blocks hold beyond their copies: each partition's last block.
    static std::size_t slackBytes(std::uint32_t parts) {
        return std::size_t(parts) * (sizeof(Block) + sizeof(Block *) + sizeof(std::uint32_t));
    }

private:
    // Every block but a partition's last is full, so the arena never runs out.
    Block *newBlock() { return &arena_[used_++]; }

    std::vector<std::vector<Block *>> blocks_;
    std::vector<std::uint32_t> filled_; // of each partition's last block
    std::unique_ptr<Block[]> arena_;
    std::size_t used_ = 0;
};
