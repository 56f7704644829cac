#pragma once

#include <QByteArray>
#include <QString>
#include <QtGlobal>

#include <limits>

// What the system lets this process have: the limits, and how much of them is still free.
namespace memory {
inline constexpr qint64 Unlimited = std::numeric_limits<qint64>::max();

qint64 physicalMemory();
// The soft limit on the address space (ulimit -v).
qint64 addressSpaceLimit();
// The soft limit on the data (ulimit -d), which takes in every private writable mapping.
qint64 dataLimit();
// The tightest memory limit of the process's control groups, its parents' included, read from
// /proc and /sys under root (the machine's own when empty).
qint64 controlGroupLimit(const QString &root = {});

// How many more bytes the process can still allocate before the system refuses them: the
// address-space limit less what is mapped, the data limit less the data (the stack counted
// too, which errs on the safe side), and what the system can still commit (under strict
// overcommit its commit limit less what is committed, otherwise the most it grants one
// request). The heap's free memory counts as room unless freedCounts is false: it may lie in
// pieces that one large block cannot use.
qint64 left(bool freedCounts = true);
// The system's part of left(), from the texts of /proc/meminfo and
// /proc/sys/vm/overcommit_memory.
qint64 systemLeft(const QByteArray &meminfo, const QByteArray &overcommit);

// Has the heap grow tens of megabytes at a time rather than by each large block it hands
// out: a large list is read in blocks of about a megabyte, on two threads, and every growth
// is a call to the system. For a program's start.
void growInLargeSteps();

// Has the heap's free memory returned to the system, on a thread of its own, so that what a
// cleared list or a finished command freed is room again: holdBack() at a command's start,
// giveBack() at its end; the heap is trimmed once none runs.
void holdBack() noexcept;
void giveBack() noexcept;

// Has every thread take its memory from the one heap, for the window's start: a heap of a
// thread of its own keeps freed memory resident at its top and reserves 64 MB of address
// space, both counted against the limits, and only the one heap can be given back whole.
void shareOneHeap();

// Throws std::bad_alloc, which is reported as "Out of memory", when bytes more would leave
// the process too little for its own turns. A command calls it before it allocates what
// cannot fail safely, such as the rows a list announces to its view.
void ensureRoomFor(qint64 bytes);
// Whether one block of bytes more fits in fresh memory, as an allocation that cannot be
// refused safely needs.
bool roomInOnePiece(qint64 bytes);
} // namespace memory
