#pragma once

// Comparing and copying the short texts a list is mostly made of. Up to 32 bytes are covered
// by a few overlapping words, with no loop and no branch on the length inside; memcmp and
// memcpy branch on it in ways the processor cannot foresee, which costs more than the work.
#include <QByteArrayView>

#include <cstddef>
#include <cstdint>
#include <cstring>

namespace shortbytes {
constexpr std::size_t MostByWords = 32;

template <class Word> Word wordAt(const char *at) {
    Word word;
    std::memcpy(&word, at, sizeof word);
    return word;
}

// Where words of Word cover n bytes, n from 1 to 4 words: the first word, the last, and
// two between them (some may coincide).
template <class Word> struct Cover {
    explicit Cover(std::size_t n)
        : at{0, (n - sizeof(Word)) / 3, (n - sizeof(Word)) * 2 / 3, n - sizeof(Word)} {}
    std::size_t at[4];
};

template <class Word> bool sameWords(const char *a, const char *b, std::size_t n) {
    const Cover<Word> cover(n);
    Word differ = 0;
    for (const std::size_t at : cover.at)
        differ |= wordAt<Word>(a + at) ^ wordAt<Word>(b + at);
    return differ == 0;
}

template <class Word> void copyWords(char *out, const char *in, std::size_t n) {
    const Cover<Word> cover(n);
    Word words[4];
    for (int k = 0; k < 4; ++k)
        words[k] = wordAt<Word>(in + cover.at[k]);
    for (int k = 0; k < 4; ++k)
        std::memcpy(out + cover.at[k], &words[k], sizeof(Word));
}

inline bool same(QByteArrayView a, QByteArrayView b) {
    const auto n = std::size_t(a.size());
    if (n != std::size_t(b.size()))
        return false;
    if (n > MostByWords)
        return std::memcmp(a.data(), b.data(), n) == 0;
    if (n >= 8)
        return sameWords<std::uint64_t>(a.data(), b.data(), n);
    if (n >= 4)
        return sameWords<std::uint32_t>(a.data(), b.data(), n);
    return n == 0 || sameWords<std::uint8_t>(a.data(), b.data(), n);
}

// Copies text to out; returns where it ends there. An empty text may have no bytes at all.
inline char *copy(char *out, QByteArrayView text) {
    const auto n = std::size_t(text.size());
    if (n > MostByWords)
        std::memcpy(out, text.data(), n);
    else if (n >= 8)
        copyWords<std::uint64_t>(out, text.data(), n);
    else if (n >= 4)
        copyWords<std::uint32_t>(out, text.data(), n);
    else if (n >= 1)
        copyWords<std::uint8_t>(out, text.data(), n);
    return out + n;
}
} // namespace shortbytes
