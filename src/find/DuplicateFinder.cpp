#include "DuplicateFinder.h"

#include "core/ErrorReport.h"
#include "core/TimeSlice.h"
#include "Workers.h"

#include <xxhash.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <bit>
#include <chrono>
#include <cmath>
#include <condition_variable>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <limits>
#include <map>
#include <memory>
#include <mutex>
#include <new>
#include <thread>
#include <vector>

#ifdef __linux__
#include <sys/mman.h>
#endif

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

// The index is probed at random: huge pages spare most of its address-translation misses.
// Only worker threads touch it first, so the event loop never waits for the system to find
// them.
void adviseHugePages([[maybe_unused]] void *data, [[maybe_unused]] size_t size) {
#if defined(__linux__) && defined(MADV_HUGEPAGE)
    constexpr std::uintptr_t Huge = std::uintptr_t(2) << 20;
    const auto begin = (reinterpret_cast<std::uintptr_t>(data) + Huge - 1) & ~(Huge - 1);
    const auto end = (reinterpret_cast<std::uintptr_t>(data) + size) & ~(Huge - 1);
    if (end > begin)
        madvise(reinterpret_cast<void *>(begin), end - begin, MADV_HUGEPAGE);
#endif
}

bool sameBytes(QByteArrayView a, QByteArrayView b) {
    return a.size() == b.size() && std::memcmp(a.data(), b.data(), size_t(a.size())) == 0;
}

std::uint64_t xxh3(QByteArrayView text) {
    return XXH3_64bits(text.data(), size_t(text.size()));
}

// Stands for a blank text, which is never paired; no text hashes to it.
constexpr std::uint64_t BlankHash = 0;
std::uint64_t hashOf(QByteArrayView text, FindHash hash) {
    if (isBlankText(text))
        return BlankHash;
    const std::uint64_t h = hash(text);
    return h == BlankHash ? 1 : h;
}

// Below this many items a second thread costs more than it saves.
constexpr std::uint32_t ThreadedFrom = 100'000;

// Counts the distinct hashes of a part roughly (HyperLogLog, about 2 % off), so its index is
// sized for the values it will hold rather than for every item.
class DistinctCount {
public:
    void add(std::uint64_t h) {
        const auto low = std::uint32_t(h); // the upper half chose the part
        std::uint8_t &r = registers_[low & (Registers - 1)];
        r = std::max(r, std::uint8_t(std::countl_zero(low | std::uint32_t(Registers - 1)) + 1));
    }
    void merge(const DistinctCount &other) {
        for (size_t k = 0; k < Registers; ++k)
            registers_[k] = std::max(registers_[k], other.registers_[k]);
    }
    double estimate() const {
        double sum = 0;
        size_t zeros = 0;
        for (const std::uint8_t r : registers_) {
            sum += std::ldexp(1.0, -r);
            zeros += r == 0;
        }
        constexpr double m = Registers;
        const double raw = 0.7213 / (1 + 1.079 / m) * m * m / sum;
        return raw <= 2.5 * m && zeros > 0 ? m * std::log(m / double(zeros)) : raw;
    }

private:
    static constexpr size_t Registers = 4096;
    std::array<std::uint8_t, Registers> registers_{};
};

// One part of the hash space: the values whose hashes fall in it, each with the position of
// its latest copy and whether that copy still waits for a partner. A copy that finds its
// partner waiting marks the partner's bit: the earlier copy of a pair is what is reported.
class Part {
public:
    // values: how many distinct values may fall into this part.
    Part(const TextStore &items, std::uint32_t part, std::uint32_t parts, FindHash hash,
         size_t values)
        : items_(items), part_(part), parts_(parts), hash_(hash),
          marks_(zeroed<std::uint64_t>(size_t(items.size()) / 64 + 1)) {
        // Never more than three quarters full.
        resize(std::max<size_t>(1024, values / 3 * 4 + 64));
    }

    const std::uint64_t *marks() const { return marks_.get(); }
    // The hash of every item worked out beforehand, BlankHash for a blank one.
    void useHashes(const std::uint64_t *hashes) { hashes_ = hashes; }
    qsizetype rows() const { return rows_; }
    qsizetype rowBytes() const { return rowBytes_; }

    // Calls pause() between blocks of items. Equal hash tags are taken for equal texts at
    // first, and the texts compared a little later, when they have been fetched; should two
    // texts ever differ, the part is done again comparing each text at once.
    // The index goes as soon as the pairs are known; only the marks stay.
    template <class Pause> void run(Pause &&pause) {
        pass(pause);
        if (!checks_.finish(items_)) {
            clear();
            compareAtOnce_ = true;
            pass(pause);
        }
        slots_.reset();
        size_ = used_ = limit_ = 0;
    }

private:
    // Pairs of texts (a copy and the latest copy before it) compared once both are fetched.
    class LateChecks {
    public:
        void add(const TextStore &items, std::uint32_t item, std::uint32_t latest) {
            if (added_ >= Ring)
                equal_ = equal_ && check(ring_[added_ % Ring]);
            if (added_ >= Ring / 2)
                locate(items, ring_[(added_ - Ring / 2) % Ring]);
            ring_[added_ % Ring] = {item, latest, {}, {}};
            items.prefetch(item);
            items.prefetch(latest);
            ++added_;
        }
        bool finish(const TextStore &items) {
            for (size_t k = added_ > Ring ? added_ - Ring : 0; k < added_; ++k) {
                locate(items, ring_[k % Ring]);
                equal_ = equal_ && check(ring_[k % Ring]);
            }
            added_ = 0;
            return equal_;
        }

    private:
        static constexpr size_t Ring = 64;
        struct Pair {
            std::uint32_t item, latest;
            QByteArrayView text, latestText; // once located
        };
        static void fetch([[maybe_unused]] QByteArrayView text) {
#if defined(__GNUC__) || defined(__clang__)
            __builtin_prefetch(text.data());
            __builtin_prefetch(text.data() + text.size());
#endif
        }
        static void locate(const TextStore &items, Pair &pair) {
            pair.text = items.bytes(pair.item);
            pair.latestText = items.bytes(pair.latest);
            fetch(pair.text);
            fetch(pair.latestText);
        }
        static bool check(const Pair &pair) {
            return sameBytes(pair.text, pair.latestText);
        }
        Pair ring_[Ring];
        size_t added_ = 0;
        bool equal_ = true;
    };

    template <class Pause> void pass(Pause &&pause) {
        const auto n = std::uint32_t(items_.size());
        // The slots of one block are fetched while the block before is looked up.
        constexpr std::uint32_t Block = 64;
        struct Hashed {
            std::uint64_t hashes[Block];
            std::uint64_t mine = 0; // which items of the block fall into this part
        } blocks[2];
        auto hashBlock = [&](std::uint32_t first, Hashed &block) {
            block.mine = 0;
            for (std::uint32_t i = first, end = std::min(n, first + Block); i < end; ++i) {
                const std::uint64_t h = hashes_ ? hashes_[i] : hashOf(items_.bytes(i), hash_);
                if (h == BlankHash || partOf(h) != part_)
                    continue;
                block.hashes[i - first] = h;
                block.mine |= std::uint64_t(1) << (i - first);
#if defined(__GNUC__) || defined(__clang__)
                __builtin_prefetch(&slots_[home(h)]);
#endif
            }
        };
        if (n > 0)
            hashBlock(0, blocks[0]);
        for (std::uint32_t first = 0, b = 0; first < n; first += Block, b ^= 1) {
            if ((first & 4095) == 0)
                pause();
            if (first + Block < n)
                hashBlock(first + Block, blocks[b ^ 1]);
            for (std::uint64_t mine = blocks[b].mine; mine != 0; mine &= mine - 1) {
                const auto k = std::uint32_t(std::countr_zero(mine));
                visit(first + k, blocks[b].hashes[k]);
            }
        }
    }

    // A slot: the upper half of the hash, whether the latest copy waits for a partner, and
    // the position of the latest copy plus one (0: an empty slot).
    static constexpr std::uint64_t Waiting = std::uint64_t(1) << 31;
    static constexpr std::uint64_t PositionMask = Waiting - 1;

    // Where a hash's probe starts: its lower half scaled to the table, which need not be a
    // power of two (rounding up to one could double the memory).
    size_t home(std::uint64_t h) const {
        return size_t((h & 0xFFFFFFFF) * std::uint64_t(size_) >> 32);
    }

    std::uint32_t partOf(std::uint64_t h) const {
        return partOfHash(h, parts_);
    }

    void visit(std::uint32_t item, std::uint64_t h) {
        const std::uint64_t tag = h & ~std::uint64_t(0xFFFFFFFF);
        const QByteArrayView text = items_.bytes(item);
        for (size_t slot = home(h);; slot = slot + 1 == size_ ? 0 : slot + 1) {
            const std::uint64_t entry = slots_[slot];
            if (entry == 0) {
                slots_[slot] = tag | Waiting | (std::uint64_t(item) + 1);
                if (++used_ > limit_)
                    resize(size_ * 2);
                return;
            }
            if ((entry & ~std::uint64_t(0xFFFFFFFF)) != tag)
                continue;
            const auto latest = std::uint32_t((entry & PositionMask) - 1);
            if (compareAtOnce_) {
                if (!sameBytes(items_.bytes(latest), text))
                    continue;
            } else {
                checks_.add(items_, item, latest);
            }
            if (entry & Waiting) {
                marks_[latest / 64] |= std::uint64_t(1) << (latest % 64);
                ++rows_;
                rowBytes_ += text.size();
                slots_[slot] = tag | (std::uint64_t(item) + 1);
            } else {
                slots_[slot] = tag | Waiting | (std::uint64_t(item) + 1);
            }
            return;
        }
    }

    void clear() {
        std::memset(slots_.get(), 0, size_ * sizeof(std::uint64_t));
        std::memset(marks_.get(), 0, (size_t(items_.size()) / 64 + 1) * sizeof(std::uint64_t));
        used_ = 0;
        rows_ = 0;
        rowBytes_ = 0;
    }

    // Only when far more distinct values than expected fall into this part.
    void resize(size_t slotCount) {
        auto old = std::move(slots_);
        const size_t oldSize = old ? size_ : 0;
        slots_ = zeroed<std::uint64_t>(slotCount);
        adviseHugePages(slots_.get(), slotCount * sizeof(std::uint64_t));
        size_ = slotCount;
        limit_ = slotCount / 4 * 3;
        for (size_t s = 0; s < oldSize; ++s) {
            if (old[s] == 0)
                continue;
            const auto latest = std::uint32_t((old[s] & PositionMask) - 1);
            size_t slot = home(hashOf(items_.bytes(latest), hash_));
            while (slots_[slot] != 0)
                slot = slot + 1 == size_ ? 0 : slot + 1;
            slots_[slot] = old[s];
        }
    }

    const TextStore &items_;
    std::uint32_t part_;
    std::uint32_t parts_;
    FindHash hash_;
    const std::uint64_t *hashes_ = nullptr;
    std::unique_ptr<std::uint64_t[], Free> slots_;
    size_t size_ = 0;
    size_t used_ = 0;
    size_t limit_ = 0;
    std::unique_ptr<std::uint64_t[], Free> marks_;
    qsizetype rows_ = 0;
    qsizetype rowBytes_ = 0;
    LateChecks checks_;
    bool compareAtOnce_ = false;
};

int threadsFor(std::uint32_t items, int wanted) {
    if (wanted > 0)
        return wanted;
    if (items < ThreadedFrom)
        return 1;
    return int(std::clamp(std::thread::hardware_concurrency(), 1u, 4u));
}

// The marked items of words [first, end) of the marks, in list order, appended to rows.
void appendMarked(const TextStore &items, const std::vector<std::unique_ptr<Part>> &parts,
                  size_t first, size_t end, TextStore &rows) {
    for (size_t w = first; w < end; ++w) {
        std::uint64_t marked = 0;
        for (const auto &part : parts)
            marked |= part->marks()[w];
        for (; marked != 0; marked &= marked - 1)
            rows.appendBytes(items.bytes(qsizetype(w * 64 + size_t(std::countr_zero(marked)))));
    }
}

// Hands the marked items to sink in list order. Workers build the rows a chunk of the list
// at a time; each chunk joins the batch once the chunks before it have, and the caller only
// hands the batch over: with turns, once it is full (within half a slice of the last turn)
// or HandOverMs have passed, then a turn follows; without, a megabyte at a time. The
// workers wait while the batch is full, so the rows are never all held twice.
void reportRows(const TextStore &items, const std::vector<std::unique_ptr<Part>> &parts,
                size_t threads, TimeSlice *slice, const RowSink &sink) {
    const auto n = size_t(items.size());
    const size_t words = n / 64 + 1;
    if (n < ThreadedFrom) {
        TextStore rows;
        appendMarked(items, parts, 0, words, rows);
        handOverBatch(rows, sink);
        return;
    }
    constexpr size_t ChunkWords = 256;
    constexpr size_t HeldBytes = 8 << 20;
    constexpr size_t ReadyBytes = 1 << 20;
    // The list pays for each row it takes: a batch holds no more rows than the sink
    // took in about this long, as measured on the batches before (growing by half at most,
    // since one quick measure may be luck).
    constexpr std::chrono::nanoseconds HandOverTime = std::chrono::milliseconds(6);
    qsizetype heldRows = 1 << 15;

    const size_t chunks = (words + ChunkWords - 1) / ChunkWords;
    // Workers may run several chunks ahead of the one the batch waits for, so one that the
    // system holds up does not hold up the others.
    size_t claimed = 0;                // chunks given to a worker
    size_t joined = 0;                 // chunks in the batch or handed over
    std::map<size_t, TextStore> early; // built before a chunk ahead of them
    TextStore batch;
    auto full = [&] { return batch.textBytes() >= HeldBytes || batch.size() >= heldRows; };
    workers::Crew crew;
    crew.start(threads, [&](size_t) {
        for (;;) {
            auto lock = crew.lock();
            crew.waitUntil(lock, [&] {
                return claimed == chunks || (claimed < joined + 8 * threads && !full());
            });
            if (claimed == chunks)
                return;
            const size_t chunk = claimed++;
            lock.unlock();
            TextStore rows;
            appendMarked(items, parts, chunk * ChunkWords,
                         std::min(words, (chunk + 1) * ChunkWords), rows);
            lock.lock();
            early.emplace(chunk, std::move(rows));
            for (auto next = early.begin(); next != early.end() && next->first == joined;
                 next = early.erase(next), ++joined)
                batch.append(next->second);
            crew.notify();
        }
    });

    auto lock = crew.lock();
    auto handOver = [&] {
        TextStore rows = batch;
        batch.clear();
        batch.reserveMore(rows.size() + rows.size() / 8,
                          qsizetype(rows.textBytes() + rows.textBytes() / 8));
        crew.notify();
        lock.unlock();
        const auto start = std::chrono::steady_clock::now();
        sink(rows);
        const auto took = std::chrono::steady_clock::now() - start;
        const qsizetype count = rows.size();
        rows.clear(); // freed before the lock is taken again
        lock.lock();
        if (slice && count >= 4096 && took.count() > 0)
            heldRows =
                std::clamp<qsizetype>(count * HandOverTime / took, 4096, heldRows + heldRows / 2);
    };
    auto turn = [&] {
        const auto done = qint64(n + std::min(n, joined * ChunkWords * 64));
        lock.unlock();
        slice->setStepDone(done);
        slice->yield();
        lock.lock();
    };
    while (!crew.finished()) {
        if (!slice) {
            if (full() || batch.textBytes() >= ReadyBytes)
                handOver();
            else
                crew.waitFor(lock, std::chrono::milliseconds(100));
        } else if (full() || slice->idleDue()) {
            if (slice->idleDue())
                turn();
            // The results take their rows in a turn of their own.
            if (!batch.isEmpty() && (full() || slice->handOver())) {
                handOver();
                turn();
            }
        } else {
            crew.waitFor(lock, std::chrono::milliseconds(2));
        }
    }
    lock.unlock();
    crew.rethrowFailure();
    if (!batch.isEmpty())
        sink(batch);
}

// The address space each thread reserves for its stack (the usual 8 MB stack limit).
constexpr qint64 ThreadStackBytes = qint64(8) << 20;
} // namespace

bool isBlankText(QByteArrayView text) {
    for (char c : text)
        if (c != ' ')
            return false;
    return true;
}

qint64 findIndexBytes(qsizetype items) {
    const auto n = qint64(items);
    const qint64 count =
        threadsFor(std::uint32_t(std::min<qint64>(n, std::numeric_limits<std::int32_t>::max())), 0);
    // The parts' slots as their constructors size them, for every item at most; each part
    // keeps a mark per item.
    const qint64 slotCount = n / 3 * 4 + count * (1024 + 64);
    const qint64 marks = count * (n / 64 + 1);
    const qint64 hashes = count > 1 ? n : 0;
    return (slotCount + marks + hashes) * qint64(sizeof(std::uint64_t)) +
           (count > 1 ? count * ThreadStackBytes : 0);
}

void findDuplicates(const TextStore &items, TimeSlice *slice, const RowSink &sink,
                    const RowSpace &space, const FindTuning &tuning) {
    // A position and its waiting flag share 32 bits.
    if (items.size() >= qsizetype(std::numeric_limits<std::int32_t>::max()))
        throw Failure(QStringLiteral("Out of memory"));
    const auto n = std::uint32_t(items.size());
    const FindHash hash = tuning.hash ? tuning.hash : xxh3;

    // Progress: the first pass and the reporting pass count n items each. Pauses come every
    // 4096 items a thread looks at; the threaded first pass hashes, then every part looks at
    // every item, so each share counts as much as half of that.
    std::atomic<qint64> paired{0};
    constexpr qint64 PauseItems = 4096;
    auto pairedUpTo = [&] { return std::min<qint64>(paired.load(std::memory_order_relaxed), n); };

    std::vector<std::unique_ptr<Part>> parts;
    const auto count = std::uint32_t(threadsFor(n, tuning.threads));
    if (count == 1) {
        parts.push_back(std::make_unique<Part>(items, 0, 1, hash, n));
        parts.front()->run([&] {
            paired.fetch_add(PauseItems, std::memory_order_relaxed);
            if (slice && slice->due()) {
                slice->setStepDone(pairedUpTo());
                slice->yield();
            }
        });
    } else {
        // Each text is hashed once, the list cut in ranges, before each part takes its values;
        // the ranges also count what falls into each part, so each index is sized to fit.
        auto hashes = zeroed<std::uint64_t>(n);
        std::vector<std::vector<size_t>> counts(count, std::vector<size_t>(count));
        std::vector<std::vector<DistinctCount>> distinct(count, std::vector<DistinctCount>(count));
        workers::runThreaded(count, slice, pairedUpTo, [&](size_t range, const auto &pause) {
            const size_t first = size_t(n) * range / count;
            const size_t end = size_t(n) * (range + 1) / count;
            for (size_t i = first; i < end; ++i) {
                if ((i & 4095) == 0) {
                    paired.fetch_add(PauseItems / 2, std::memory_order_relaxed);
                    pause();
                }
                const std::uint64_t h = hashOf(items.bytes(qsizetype(i)), hash);
                hashes[i] = h;
                if (h != BlankHash) {
                    const std::uint32_t p = partOfHash(h, count);
                    ++counts[range][p];
                    distinct[range][p].add(h);
                }
            }
        });
        for (std::uint32_t p = 0; p < count; ++p) {
            size_t expected = 0;
            for (std::uint32_t range = 0; range < count; ++range) {
                expected += counts[range][p];
                if (range > 0)
                    distinct[0][p].merge(distinct[range][p]);
            }
            // A quarter more than the estimate: the index is then seldom rebuilt larger.
            const auto values = size_t(distinct[0][p].estimate() * 1.25);
            parts.push_back(
                std::make_unique<Part>(items, p, count, hash, std::min(expected, values)));
            parts.back()->useHashes(hashes.get());
        }
        workers::runThreaded(count, slice, pairedUpTo, [&](size_t p, const auto &pause) {
            parts[p]->run([&] {
                paired.fetch_add(PauseItems / 2 / count, std::memory_order_relaxed);
                pause();
            });
        });
    }

    if (space) {
        qsizetype rows = 0, bytes = 0;
        for (const auto &part : parts) {
            rows += part->rows();
            bytes += part->rowBytes();
        }
        space(rows, bytes);
    }
    reportRows(items, parts, count, slice, sink);
}
