#pragma once

#include <QByteArray>
#include <QFile>

// A field of /proc/self/status in KiB ("VmHWM:", "VmRSS:").
inline long statusKiB(const char *field) {
#ifdef __linux__
    // Read whole: /proc files report size 0, so QFile::atEnd() holds from the start.
    QFile status(QStringLiteral("/proc/self/status"));
    const QByteArray name(field);
    if (status.open(QIODevice::ReadOnly))
        for (const QByteArray &line : status.readAll().split('\n'))
            if (line.startsWith(name))
                return line.mid(name.size()).simplified().split(' ').constFirst().toLong();
#else
    Q_UNUSED(field);
#endif
    return 0;
}
