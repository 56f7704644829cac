#pragma once

// What every finder agrees on, in memory or spilled: which texts are blank, how a hash
// chooses a partition, and how the rows reach the caller.
#include "engine/store/TextStore.h"

#include <QByteArrayView>

#include <algorithm>
#include <cstdint>
#include <functional>
#include <thread>

using RowSink = std::function<void(const TextStore &rows)>;

using FindHash = std::uint64_t (*)(QByteArrayView text);

struct FindTuning {
    int threads = 0;         // 0: as many as pay on this machine
    FindHash hash = nullptr; // nullptr: XXH3; tests put in one that collides
};

// The threads a finder runs on a large list: one a core, up to four.
inline int machineThreads() {
    return int(std::clamp(std::thread::hardware_concurrency(), 1u, 4u));
}

// Blank texts (empty, or only spaces) are never paired.
inline bool isBlankText(QByteArrayView text) {
    for (char c : text)
        if (c != ' ')
            return false;
    return true;
}

// Which of parts parts a hash belongs to, by its upper half; the lower half places a value in
// its part's table.
inline std::uint32_t partOfHash(std::uint64_t hash, std::uint32_t parts) {
    return std::uint32_t(((hash >> 32) * parts) >> 32);
}

// Stands for a blank text, which is never paired; no text hashes to it.
constexpr std::uint64_t BlankHash = 0;
inline std::uint64_t hashOf(QByteArrayView text, FindHash hash) {
    if (isBlankText(text))
        return BlankHash;
    const std::uint64_t h = hash(text);
    return h == BlankHash ? 1 : h;
}
