#include "MemoryBudget.h"

#include <QFile>
#include <QString>

#include <algorithm>
#include <limits>

#include <sys/resource.h>
#include <unistd.h>

namespace {
constexpr qint64 Unlimited = std::numeric_limits<qint64>::max();

// A limit file of the control group: a number, or "max" (none).
qint64 limitIn(const QString &path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return Unlimited;
    bool ok = false;
    const qint64 limit = file.readLine().trimmed().toLongLong(&ok);
    return ok && limit > 0 ? limit : Unlimited;
}

// The tightest memory limit of the process's control groups, its parents' included.
qint64 controlGroupLimit() {
    QFile groups(QStringLiteral("/proc/self/cgroup"));
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
        QString dir =
            (unified ? QStringLiteral("/sys/fs/cgroup") : QStringLiteral("/sys/fs/cgroup/memory")) +
            path;
        for (;;) {
            limit = std::min(limit,
                             limitIn(dir + (unified ? QStringLiteral("/memory.max")
                                                    : QStringLiteral("/memory.limit_in_bytes"))));
            const qsizetype slash = dir.lastIndexOf(QLatin1Char('/'));
            if (slash <= 0 || dir.endsWith(QLatin1String("/cgroup")) ||
                dir.endsWith(QLatin1String("/memory")))
                break;
            dir.truncate(slash);
        }
    }
    return limit;
}
} // namespace

std::optional<qint64> parseMemorySize(QByteArrayView text) {
    if (text.isEmpty())
        return std::nullopt;
    int shift = 0;
    switch (text.back()) {
    case 'K':
    case 'k':
        shift = 10;
        break;
    case 'M':
    case 'm':
        shift = 20;
        break;
    case 'G':
    case 'g':
        shift = 30;
        break;
    case 'T':
    case 't':
        shift = 40;
        break;
    default:
        break;
    }
    const QByteArrayView digits = shift ? text.chopped(1) : text;
    if (digits.isEmpty() ||
        !std::all_of(digits.begin(), digits.end(), [](char c) { return c >= '0' && c <= '9'; }))
        return std::nullopt;
    bool ok = false;
    const qint64 number = digits.toLongLong(&ok);
    if (!ok || number > (Unlimited >> shift))
        return std::nullopt;
    return number << shift;
}

qint64 defaultMemoryBudget() {
    qint64 limit = Unlimited;
    const long pages = sysconf(_SC_PHYS_PAGES);
    const long pageSize = sysconf(_SC_PAGESIZE);
    if (pages > 0 && pageSize > 0)
        limit = qint64(pages) * pageSize;
    rlimit space{};
    if (getrlimit(RLIMIT_AS, &space) == 0 && space.rlim_cur != RLIM_INFINITY)
        limit = std::min(limit, qint64(std::min<rlim_t>(space.rlim_cur, rlim_t(Unlimited))));
    limit = std::min(limit, controlGroupLimit());
    return limit == Unlimited ? Unlimited : limit / 2;
}
