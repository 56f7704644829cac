#include "MemoryLimits.h"

#include <QByteArray>
#include <QElapsedTimer>
#include <QFile>
#include <QList>
#include <QString>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <new>
#include <thread>

#ifdef Q_OS_WIN
#define PSAPI_VERSION 2 // GetProcessMemoryInfo from kernel32, no psapi.dll
#include <windows.h>

#include <psapi.h>
#else
#include <sys/resource.h>
#include <unistd.h>
#endif

#ifdef __GLIBC__
#include <malloc.h>
#endif

namespace memory {
namespace {
// What a window needs besides its commands' work: painting, a message box, a thread's stack.
constexpr qint64 Headroom = qint64(64) << 20;

// A limit file of the control group: a number, or "max" (none).
qint64 limitIn(const QString &path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return Unlimited;
    bool ok = false;
    const qint64 limit = file.readLine().trimmed().toLongLong(&ok);
    return ok && limit > 0 ? limit : Unlimited;
}

#ifndef Q_OS_WIN
QByteArray readAll(const char *path) {
    QFile file(QString::fromLatin1(path));
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}
#endif

// A field of /proc/meminfo in bytes, or -1.
qint64 memInfo(const QByteArray &info, QByteArrayView name) {
    for (const QByteArray &line : info.split('\n'))
        if (line.startsWith(name) && line.size() > name.size() && line[name.size()] == ':') {
            bool ok = false;
            const qint64 kb =
                line.mid(name.size() + 1).trimmed().split(' ').value(0).toLongLong(&ok);
            return ok ? kb << 10 : -1;
        }
    return -1;
}

#ifdef Q_OS_WIN
// The tightest memory limit of the job the process runs in, on it alone or on the whole job.
qint64 jobLimit() {
    JOBOBJECT_EXTENDED_LIMIT_INFORMATION job{};
    if (!QueryInformationJobObject(nullptr, JobObjectExtendedLimitInformation, &job, sizeof job,
                                   nullptr))
        return Unlimited;
    qint64 limit = Unlimited;
    if (job.BasicLimitInformation.LimitFlags & JOB_OBJECT_LIMIT_PROCESS_MEMORY)
        limit = std::min(limit, qint64(job.ProcessMemoryLimit));
    if (job.BasicLimitInformation.LimitFlags & JOB_OBJECT_LIMIT_JOB_MEMORY)
        limit = std::min(limit, qint64(job.JobMemoryLimit));
    return limit;
}

// What the process may still commit: under the job's limit, within the system's commit limit
// (memory and page file) and in its own address space.
qint64 windowsLeft() {
    MEMORYSTATUSEX status{};
    status.dwLength = sizeof status;
    qint64 room = Unlimited;
    if (GlobalMemoryStatusEx(&status))
        room = std::min(qint64(status.ullAvailPageFile), qint64(status.ullAvailVirtual));
    const qint64 limit = jobLimit();
    PROCESS_MEMORY_COUNTERS_EX counters{};
    if (limit != Unlimited &&
        GetProcessMemoryInfo(GetCurrentProcess(),
                             reinterpret_cast<PROCESS_MEMORY_COUNTERS *>(&counters),
                             sizeof counters))
        room = std::min(room, limit - qint64(counters.PrivateUsage));
    return room;
}
#else
qint64 softLimit(int resource) {
    rlimit limit{};
    if (getrlimit(resource, &limit) == 0 && limit.rlim_cur != RLIM_INFINITY)
        return qint64(std::min<rlim_t>(limit.rlim_cur, rlim_t(Unlimited)));
    return Unlimited;
}

// What the heap holds mapped but free, which it hands out again before it maps more: a
// cleared list's memory stays mapped in its arena.
qint64 heapFree() {
#ifdef __GLIBC__
    return qint64(mallinfo2().fordblks);
#else
    return 0;
#endif
}

// The limit less what counts against it (a field of /proc/self/statm, in pages, which is
// cheaper to read than /proc/self/status), the heap's free memory counted as room.
qint64 roomUnder(qint64 limit, int field, bool freedCounts) {
    if (limit == Unlimited)
        return Unlimited;
    bool ok = false;
    const qint64 pages = readAll("/proc/self/statm").split(' ').value(field).toLongLong(&ok);
    const long pageSize = sysconf(_SC_PAGESIZE);
    return ok && pageSize > 0 ? limit - pages * pageSize + (freedCounts ? heapFree() : 0)
                              : Unlimited;
}
#endif
} // namespace

#ifdef Q_OS_WIN
qint64 physicalMemory() {
    MEMORYSTATUSEX status{};
    status.dwLength = sizeof status;
    return GlobalMemoryStatusEx(&status) ? qint64(status.ullTotalPhys) : Unlimited;
}

// Windows has no limit on the address space as such: a job's limit on committed memory takes
// its place.
qint64 addressSpaceLimit() {
    return jobLimit();
}

qint64 dataLimit() {
    return Unlimited;
}
#else

qint64 physicalMemory() {
    const long pages = sysconf(_SC_PHYS_PAGES);
    const long pageSize = sysconf(_SC_PAGESIZE);
    return pages > 0 && pageSize > 0 ? qint64(pages) * pageSize : Unlimited;
}

qint64 addressSpaceLimit() {
    return softLimit(RLIMIT_AS);
}

qint64 dataLimit() {
    return softLimit(RLIMIT_DATA);
}
#endif

qint64 controlGroupLimit(const QString &root) {
    QFile groups(root + QStringLiteral("/proc/self/cgroup"));
    if (!groups.open(QIODevice::ReadOnly))
        return Unlimited;
    qint64 limit = Unlimited;
    for (const QByteArray &line : groups.readAll().split('\n')) {
        const QList<QByteArray> fields = line.split(':');
        if (fields.size() < 3)
            continue;
        const QString path = QString::fromUtf8(fields[2]);
        const bool unified = fields[0] == "0" && fields[1].isEmpty();
        if (!unified && !fields[1].split(',').contains("memory"))
            continue;
        const QString top = root + (unified ? QStringLiteral("/sys/fs/cgroup")
                                            : QStringLiteral("/sys/fs/cgroup/memory"));
        const QString file =
            unified ? QStringLiteral("/memory.max") : QStringLiteral("/memory.limit_in_bytes");
        // Up to the hierarchy's top: a parent's limit binds its children too.
        for (QString dir = top + path;; dir.truncate(dir.lastIndexOf(QLatin1Char('/')))) {
            limit = std::min(limit, limitIn(dir + file));
            if (dir.size() <= top.size())
                break;
        }
    }
    return limit;
}

qint64 systemLeft(const QByteArray &info, const QByteArray &overcommit) {
    if (info.isEmpty())
        return Unlimited;
    // Under strict overcommit every allocation beyond the commit limit is refused. The
    // heuristic mode only refuses a request larger than memory and swap together, and mode 1
    // nothing: MemAvailable leaves out much that the system can reclaim or swap, so going by
    // it would refuse lists the system would hold.
    const QByteArray mode = overcommit.trimmed();
    if (mode == "2") {
        const qint64 limit = memInfo(info, "CommitLimit");
        const qint64 committed = memInfo(info, "Committed_AS");
        return limit >= 0 && committed >= 0 ? limit - committed : Unlimited;
    }
    if (mode == "1")
        return Unlimited;
    const qint64 total = memInfo(info, "MemTotal");
    const qint64 swap = memInfo(info, "SwapTotal");
    return total >= 0 ? total + std::max<qint64>(swap, 0) : Unlimited;
}

#ifdef Q_OS_WIN
qint64 left(bool) {
    return windowsLeft();
}
#else
qint64 left(bool freedCounts) {
    // Asked before every batch a list takes. Only under strict overcommit does the answer
    // follow what the system commits; otherwise it is memory and swap, read once a second.
    static std::mutex guard;
    static QElapsedTimer age;
    static QByteArray mode;
    static qint64 fixed = Unlimited;
    const std::lock_guard lock(guard);
    if (!age.isValid() || age.hasExpired(1000)) {
        mode = readAll("/proc/sys/vm/overcommit_memory").trimmed();
        fixed = systemLeft(readAll("/proc/meminfo"), mode);
        age.start();
    } else if (mode == "2") {
        fixed = systemLeft(readAll("/proc/meminfo"), mode);
    }
    // statm's first field is the address space mapped (VmSize), its sixth the data (VmData
    // and the stack).
    return std::min({roomUnder(addressSpaceLimit(), 0, freedCounts),
                     roomUnder(dataLimit(), 5, freedCounts), fixed});
}
#endif

void growInLargeSteps() {
#ifdef __GLIBC__
    // The room is address space, its pages untouched until handed out; but under a limit on
    // the address space or the data, or strict overcommit, it would count as used, so there
    // it is left be.
    if (addressSpaceLimit() == Unlimited && dataLimit() == Unlimited &&
        readAll("/proc/sys/vm/overcommit_memory").trimmed() != "2")
        mallopt(M_TOP_PAD, 64 << 20);
#endif
}

void shareOneHeap() {
#ifdef __GLIBC__
    mallopt(M_ARENA_MAX, 1);
#endif
}

#ifdef __GLIBC__
namespace {
// Giving back hundreds of megabytes takes the system tens of milliseconds, too long for the
// interface's thread: a thread of its own trims the heap. Trimming holds the heap, so it waits
// until no command runs and none has ended for a moment: commands that follow closely (Clear
// Results, then Clear List) are trimmed for once, and never while one frees or takes memory.
class Trimmer {
public:
    Trimmer() : thread_([this] { run(); }) {}
    ~Trimmer() {
        {
            const std::lock_guard lock(mutex_);
            stop_ = true;
        }
        wake_.notify_one();
        thread_.join();
    }
    void begin() {
        const std::lock_guard lock(mutex_);
        ++running_;
    }
    void end() {
        {
            const std::lock_guard lock(mutex_);
            running_ = std::max(running_ - 1, 0);
            wanted_ = true;
        }
        wake_.notify_one();
    }

private:
    void run() {
        std::unique_lock lock(mutex_);
        for (;;) {
            wake_.wait(lock, [&] { return wanted_ || stop_; });
            while ((wanted_ || running_ > 0) && !stop_) {
                wanted_ = false;
                wake_.wait_for(lock, Quiet, [&] { return wanted_ || stop_; });
            }
            if (stop_)
                return;
            lock.unlock();
            malloc_trim(0);
            lock.lock();
        }
    }

    static constexpr std::chrono::milliseconds Quiet{250};
    std::mutex mutex_;
    std::condition_variable wake_;
    bool wanted_ = false;
    bool stop_ = false;
    int running_ = 0; // commands under way, during which the heap is left be
    std::thread thread_;
};

// Without a thread to spare the heap is simply not given back.
Trimmer *trimmer() noexcept {
    try {
        static Trimmer trimmer;
        return &trimmer;
    } catch (...) {
        return nullptr;
    }
}
} // namespace
#endif

void holdBack() noexcept {
#ifdef __GLIBC__
    if (Trimmer *t = trimmer())
        t->begin();
#endif
}

void giveBack() noexcept {
#ifdef __GLIBC__
    if (Trimmer *t = trimmer())
        t->end();
#endif
}

void ensureRoomFor(qint64 bytes) {
    if (bytes > 0 && bytes > left() - Headroom)
        throw std::bad_alloc();
}

bool roomInOnePiece(qint64 bytes) {
    return bytes <= left(false) - Headroom;
}
} // namespace memory
