#pragma once

// What the window keeps resident once its lists are cleared. Included by quorvel_bench.cpp only.
#include "BenchSupport.h"

#include <QThread>

namespace {

// Loads a list file of N lines, finds on it, then Clear Results and Clear List: the resident
// size and the address space left afterwards, beside a fresh window's.
bool benchClearedMemory(long long items) {
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("list.txt"));
    if (!writeListFile(path, RandomList(std::uint64_t(items), FileSeed)))
        return false;
    Bench bench;
    const long freshRss = statusKiB("VmRSS:"), freshSize = statusKiB("VmSize:");
    figure("fresh_rss", double(freshRss) / 1024.0, "MB", 0);
    figure("fresh_address_space", double(freshSize) / 1024.0, "MB", 0);
    StallProbe probe;
    bench.dialogs.openAnswers.enqueue({path});
    bench.click("PushButton5", probe);
    drainEvents();
    bench.click("PushButton4", probe);
    drainEvents();
    bool sound = expectMessages("find", bench.dialogs.messages, {QStringLiteral("Done.")});
    figure("rows", bench.window->resultsList().itemCount(), "count", 0);
    figure("full_rss", double(statusKiB("VmRSS:")) / 1024.0, "MB", 0);
    // Each clear, its giving back included, runs in one turn of the event loop.
    figure("clear_results", bench.click("PushButton9", probe) * 1e3, "ms", 1);
    figure("clear_list", bench.click("PushButton7", probe) * 1e3, "ms", 1);
    // The heap is given back on a thread of its own, a moment after the last command: the
    // resident size once it has stayed put for half a second.
    for (long last = -1, now = statusKiB("VmRSS:"), same = 0, waits = 0; same < 5 && waits < 50;
         ++waits) {
        drainEvents();
        QThread::msleep(100);
        last = now;
        now = statusKiB("VmRSS:");
        same = now == last ? same + 1 : 0;
    }
    const long clearedRss = statusKiB("VmRSS:"), clearedSize = statusKiB("VmSize:");
    figure("cleared_rss", double(clearedRss) / 1024.0, "MB", 0);
    figure("cleared_address_space", double(clearedSize) / 1024.0, "MB", 0);
    figure("cleared_rss_over_fresh", double(clearedRss - freshRss) / 1024.0, "MB", 0);
    sound &= expectMessages("clear", bench.dialogs.messages, {});
    if (bench.window->inputList().itemCount() + bench.window->resultsList().itemCount() > 0) {
        std::fprintf(stderr, "clearing left items\n");
        sound = false;
    }
    return sound;
}

} // namespace
