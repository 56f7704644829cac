#pragma once

#include <QByteArrayView>
#include <QString>

inline constexpr qint64 MinimumMemoryBudget = qint64(64) << 10;

// A budget as the user writes it: plain bytes, or a number followed by K, M, G or T (powers
// of 1024), upper or lower case. problem, when it is none, is the message, with %s for text.
struct MemoryBudgetText {
    qint64 bytes = 0;
    const char *problem = nullptr;
};
MemoryBudgetText parseMemoryBudget(QByteArrayView text);
// Bytes as a budget is written: with the largest unit that divides them.
QByteArray memoryBudgetText(qint64 bytes);

// The longest line a search keeps to budget with. A line is held whole a few times over at
// once (as it is cut, dealt, paired and merged, on each thread), besides the rest of the work.
inline qint64 longestLineFor(qint64 budget) {
    return budget / 16;
}

// The memory a command may use for its work when the user names no budget: half of the least
// of physical memory, the limits on the address space and the data, and the control group's
// limit, leaving the other half to the rest of the machine. root: as for
// memory::controlGroupLimit.
qint64 defaultMemoryBudget(const QString &root = {});
