#pragma once

#include "engine/find/FinderRules.h"

#include <QString>

#include <functional>
#include <memory>

// About how many bytes the in-memory search (store, index, row batches) holds for a list of
// this many items and bytes of text.
qint64 inMemoryNeed(qint64 items, qint64 textBytes);

// Finds the rows findDuplicates finds, in the same order, in about budget bytes of memory
// however long the list. Texts go by hash to partition files in a temporary folder, each
// with its position in the list; each partition is paired on its own, keeping one copy of
// each of its values in memory (one that would outgrow the budget is split again by another
// hash), the threads taking partitions as they free up, and its reported copies written to a
// file; then the reported copies of all partitions are merged back by position. Throws
// TemporaryFailure when the temporary folder fails.
class SpillFinder {
public:
    // expectedNeed: inMemoryNeed() of the list as far as it is known, to choose how many
    // partitions to start with. The partitions are paired on tuning's threads.
    SpillFinder(const QString &folder, qint64 budget, qint64 expectedNeed,
                const FindTuning &tuning = {});
    ~SpillFinder();

    // The next lines of the list.
    void add(const TextStore &lines);

    // Tells how many partitions are paired of how many are known.
    using Progress = std::function<void(qsizetype done, qsizetype total)>;
    void finish(const RowSink &sink, const Progress &progress = {});

private:
    struct Impl;
    std::unique_ptr<Impl> d_;
};
