// The memory limits the process works under, and the budget quorvel-find takes from them.
#include "engine/core/MemoryLimits.h"
#include "engine/spill/MemoryBudget.h"

#include <QDir>
#include <QFile>
#include <QScopeGuard>
#include <QTemporaryDir>
#include <QTest>

#include <new>
#include <optional>

#include <sys/mman.h>
#include <sys/resource.h>
#include <unistd.h>

namespace {
constexpr qint64 MB = qint64(1) << 20;

// What counts against a limit now, from /proc/self/statm: the address space mapped (the
// first field) or the data (the sixth, the stack included, as the program counts it).
qint64 usedBytes(int resource) {
    QFile statm(QStringLiteral("/proc/self/statm"));
    if (!statm.open(QIODevice::ReadOnly))
        return -1;
    return statm.readAll().split(' ').value(resource == RLIMIT_AS ? 0 : 5).toLongLong() *
           sysconf(_SC_PAGESIZE);
}

// ulimit -v (RLIMIT_AS) or -d (RLIMIT_DATA) for as long as it lives: room more bytes than
// count against it now.
class SoftLimit {
public:
    explicit SoftLimit(qint64 room, int resource = RLIMIT_AS) : resource_(resource) {
        getrlimit(resource_, &saved_);
        rlimit limit = saved_;
        limit.rlim_cur = rlim_t(usedBytes(resource_) + room);
        set_ = limit.rlim_cur <= saved_.rlim_max && setrlimit(resource_, &limit) == 0;
    }
    ~SoftLimit() { setrlimit(resource_, &saved_); }
    bool isSet() const { return set_; }

private:
    const int resource_;
    rlimit saved_{};
    bool set_ = false;
};

// A folder standing for /: its proc/self/cgroup and the limit files under sys/fs/cgroup.
void makeTree(const QTemporaryDir &root, const QByteArray &cgroup, const QStringList &files) {
    QVERIFY(QDir(root.path()).mkpath(QStringLiteral("proc/self")));
    QFile groups(root.filePath(QStringLiteral("proc/self/cgroup")));
    if (!cgroup.isNull())
        QVERIFY(groups.open(QIODevice::WriteOnly) && groups.write(cgroup) == cgroup.size());
    for (const QString &file : files) {
        const QString path =
            root.filePath(QStringLiteral("sys/fs/cgroup/") + file.section('=', 0, 0));
        QVERIFY(QDir().mkpath(QFileInfo(path).path()));
        QFile limit(path);
        QVERIFY(limit.open(QIODevice::WriteOnly));
        limit.write(file.section('=', 1).toUtf8() + '\n');
    }
}
} // namespace

class MemoryTest : public QObject {
    Q_OBJECT
private slots:
    void controlGroupLimit_data();
    void controlGroupLimit();
    void defaultBudget_data();
    void defaultBudget();
    void headroom_data();
    void headroom();
    void systemMemoryLeft_data();
    void systemMemoryLeft();
};

void MemoryTest::controlGroupLimit_data() {
    QTest::addColumn<QByteArray>("cgroup"); // null: no such file
    QTest::addColumn<QStringList>("files"); // path under sys/fs/cgroup=content
    QTest::addColumn<qint64>("limit");
    QTest::newRow("unified, its own limit")
        << QByteArray("0::/a/b\n") << QStringList{"a/b/memory.max=500000000"} << qint64(500000000);
    QTest::newRow("unified, a parent's limit")
        << QByteArray("0::/a/b\n")
        << QStringList{"a/b/memory.max=max", "a/memory.max=300000000", "memory.max=max"}
        << qint64(300000000);
    QTest::newRow("unified, tighter than its parent")
        << QByteArray("0::/a/b\n")
        << QStringList{"a/b/memory.max=200000000", "a/memory.max=300000000"} << qint64(200000000);
    QTest::newRow("memory controller of the first version")
        << QByteArray("5:cpu,cpuacct:/x\n4:memory:/a\n")
        << QStringList{"memory/a/memory.limit_in_bytes=400000000",
                       "cpu,cpuacct/x/memory.limit_in_bytes=100"}
        << qint64(400000000);
    QTest::newRow("both versions: the least")
        << QByteArray("4:memory:/a\n0::/b\n")
        << QStringList{"memory/a/memory.limit_in_bytes=400000000", "b/memory.max=350000000"}
        << qint64(350000000);
    QTest::newRow("a group named like the top")
        << QByteArray("0::/memory/cgroup\n")
        << QStringList{"memory/cgroup/memory.max=max", "memory/memory.max=250000000"}
        << qint64(250000000);
    QTest::newRow("nothing above the hierarchy's top")
        << QByteArray("0::/a\n") << QStringList{"a/memory.max=max", "../memory.max=100"}
        << memory::Unlimited;
    QTest::newRow("no limit") << QByteArray("0::/a\n") << QStringList{"a/memory.max=max"}
                              << memory::Unlimited;
    QTest::newRow("not a number") << QByteArray("0::/a\n") << QStringList{"a/memory.max=lots"}
                                  << memory::Unlimited;
    QTest::newRow("no control groups") << QByteArray() << QStringList{} << memory::Unlimited;
}

void MemoryTest::controlGroupLimit() {
    QFETCH(QByteArray, cgroup);
    QFETCH(QStringList, files);
    QFETCH(qint64, limit);
    QTemporaryDir root;
    makeTree(root, cgroup, files);
    QCOMPARE(memory::controlGroupLimit(root.path()), limit);
}

void MemoryTest::defaultBudget_data() {
    QTest::addColumn<qint64>("groupLimit");       // 0: none
    QTest::addColumn<qint64>("addressSpaceRoom"); // above what is mapped; 0: no ulimit -v
    QTest::newRow("the control group's limit least") << 256 * MB << qint64(0);
    QTest::newRow("the address space least") << qint64(0) << 1024 * MB;
    QTest::newRow("both, the address space least") << 64 * 1024 * MB << 1024 * MB;
}

// Half of the least limit, the other half left to the rest of the machine.
void MemoryTest::defaultBudget() {
#if defined(__SANITIZE_ADDRESS__)
    QSKIP("the address sanitizer needs more address space than the limit leaves");
#endif
    QFETCH(qint64, groupLimit);
    QFETCH(qint64, addressSpaceRoom);
    QTemporaryDir root;
    makeTree(root, "0::/q\n",
             {QStringLiteral("q/memory.max=") +
              (groupLimit ? QString::number(groupLimit) : QStringLiteral("max"))});
    std::optional<SoftLimit> space;
    if (addressSpaceRoom)
        space.emplace(addressSpaceRoom);
    const qint64 least = addressSpaceRoom ? memory::addressSpaceLimit() : groupLimit;
    if ((space && !space->isSet()) || memory::physicalMemory() <= least ||
        memory::dataLimit() <= least || (!space && memory::addressSpaceLimit() <= least))
        QSKIP("this machine's own limits are tighter");
    QCOMPARE(defaultMemoryBudget(root.path()), least / 2);
}

void MemoryTest::headroom_data() {
    QTest::addColumn<int>("resource"); // the limit set 512 MB above what counts against it, or -1
    QTest::addColumn<qint64>("belowRoom"); // the request: that room less this
    QTest::addColumn<bool>("granted");
    QTest::newRow("within 64 MB of the limit") << int(RLIMIT_AS) << 32 * MB << false;
    QTest::newRow("beyond the limit") << int(RLIMIT_AS) << -MB << false;
    QTest::newRow("leaving more than 64 MB") << int(RLIMIT_AS) << 96 * MB << true;
    QTest::newRow("within 64 MB of the data limit") << int(RLIMIT_DATA) << 32 * MB << false;
    QTest::newRow("leaving more than 64 MB of data") << int(RLIMIT_DATA) << 96 * MB << true;
    // No limit set: the room is what the system grants one request.
    QTest::newRow("beyond memory and swap") << -1 << -MB << false;
}

// A request that fits under ulimit -v or -d but leaves the window less than its headroom is
// refused.
void MemoryTest::headroom() {
#if defined(__SANITIZE_ADDRESS__)
    QSKIP("the address sanitizer needs more memory than the limit leaves");
#endif
    QFETCH(int, resource);
    QFETCH(qint64, belowRoom);
    QFETCH(bool, granted);
    qint64 room = 512 * MB;
    std::optional<SoftLimit> limit;
    // Taken under the limit and never touched: it counts against the limit all the same,
    // though none of it is resident.
    void *held = MAP_FAILED;
    const auto release = qScopeGuard([&] {
        if (held != MAP_FAILED)
            munmap(held, size_t(64 * MB));
    });
    if (resource >= 0) {
        limit.emplace(room, resource);
        if (!limit->isSet())
            QSKIP("the limit cannot be set here");
        held = mmap(nullptr, size_t(64 * MB), PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS,
                    -1, 0);
        QVERIFY(held != MAP_FAILED);
        room -= 64 * MB;
    } else {
        auto read = [](const char *path) {
            QFile file(QString::fromLatin1(path));
            return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
        };
        room = memory::systemLeft(read("/proc/meminfo"), read("/proc/sys/vm/overcommit_memory"));
        if (room == memory::Unlimited)
            QSKIP("the system grants any request here");
    }
    bool refused = false;
    try {
        memory::ensureRoomFor(room - belowRoom);
    } catch (const std::bad_alloc &) {
        refused = true;
    }
    QCOMPARE(!refused, granted);
}

QTEST_GUILESS_MAIN(MemoryTest)
#include "tst_memory.moc" // What the system still lets the process allocate, from /proc/meminfo and the overcommit mode:
// only strict overcommit refuses what is merely not free; the heuristic mode refuses one
// request beyond memory and swap together, and mode 1 nothing.
void MemoryTest::systemMemoryLeft_data() {
    QTest::addColumn<QByteArray>("overcommit");
    QTest::addColumn<QByteArray>("swap"); // SwapTotal in kB
    QTest::addColumn<qint64>("left");     // in kB
    QTest::newRow("strict") << QByteArray("2\n") << QByteArray("0") << qint64(2000000);
    QTest::newRow("heuristic, little available, no swap")
        << QByteArray("0\n") << QByteArray("0") << qint64(16000000);
    QTest::newRow("heuristic, with swap")
        << QByteArray("0\n") << QByteArray("4000000") << qint64(20000000);
    QTest::newRow("always") << QByteArray("1\n") << QByteArray("0") << memory::Unlimited / 1024;
}

void MemoryTest::systemMemoryLeft() {
    QFETCH(QByteArray, overcommit);
    QFETCH(QByteArray, swap);
    QFETCH(qint64, left);
    const QByteArray info = "MemTotal:       16000000 kB\n"
                            "MemAvailable:     100000 kB\n"
                            "SwapTotal:      " +
                            swap +
                            " kB\n"
                            "SwapFree:              0 kB\n"
                            "CommitLimit:    12000000 kB\n"
                            "Committed_AS:   10000000 kB\n";
    QCOMPARE(memory::systemLeft(info, overcommit) / 1024, left);
    QCOMPARE(memory::systemLeft(QByteArray(), overcommit), memory::Unlimited);
}
