#pragma once

// Save targets of every kind: files, links, folders, pipes, devices, small disks.
#include "TestSupport.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>

// Something a save may be aimed at, made in dir. Empty when this machine cannot make it.
inline QString makeTarget(const QString &kind, const QTemporaryDir &dir, QByteArray &old) {
    const QString path = dir.filePath(QStringLiteral("target"));
    const QByteArray name = QFile::encodeName(path);
    old = "old content\r\n";
    if (kind.startsWith(QLatin1String("mode ")) || kind == QLatin1String("read-only")) {
        writeFile(path, old);
        ::chmod(name.constData(),
                kind == QLatin1String("read-only") ? 0444 : kind.mid(5).toUInt(nullptr, 8));
        return path;
    }
    if (kind == QLatin1String("link to a writable file on read-only disk")) {
        const QString target =
            makeTarget(QStringLiteral("writable file on read-only disk"), dir, old);
        const QString link = dir.filePath(QStringLiteral("link"));
        return !target.isEmpty() && QFile::link(target, link) ? link : QString();
    }
    if (kind == QLatin1String("link")) {
        writeFile(dir.filePath(QStringLiteral("real")), old);
        return QFile::link(QStringLiteral("real"), path) ? path : QString();
    }
    if (kind == QLatin1String("hard link")) {
        const QString other = writeFile(dir.filePath(QStringLiteral("other")), old);
        return ::link(QFile::encodeName(other).constData(), name.constData()) == 0 ? path
                                                                                   : QString();
    }
    if (kind == QLatin1String("writable file on read-only disk")) {
        // A file of another disk mounted over one of a read-only disk: the file may be
        // written, its folder not.
        const QByteArray real = QFile::encodeName(writeFile(dir.filePath("real"), old));
        const QByteArray mount = QFile::encodeName(dir.filePath(QStringLiteral("small")));
        const QByteArray target = mount + "/target";
        QDir(dir.path()).mkdir(QStringLiteral("small"));
        if (::mount("tmpfs", mount.constData(), "tmpfs", 0, "size=64k") != 0)
            return {};
        writeFile(QFile::decodeName(target), {});
        if (::mount(nullptr, mount.constData(), nullptr, MS_REMOUNT | MS_RDONLY, nullptr) != 0 ||
            ::mount(real.constData(), target.constData(), nullptr, MS_BIND, nullptr) != 0)
            return {};
        return QFile::decodeName(target);
    }
    if (kind == QLatin1String("folder"))
        return QDir(dir.path()).mkdir(QStringLiteral("target")) ? path : QString();
    if (kind.startsWith(QLatin1String("pipe")))
        return ::mkfifo(name.constData(), 0644) == 0 ? path : QString();
    if (kind == QLatin1String("null device") || kind == QLatin1String("full device")) {
        const dev_t device = makedev(1, kind == QLatin1String("null device") ? 3 : 7);
        return ::mknod(name.constData(), S_IFCHR | 0666, device) == 0 ? path : QString();
    }
    if (kind == QLatin1String("full disk") || kind == QLatin1String("read-only disk")) {
        const QString mount = dir.filePath(QStringLiteral("small"));
        QDir(dir.path()).mkdir(QStringLiteral("small"));
        const bool full = kind == QLatin1String("full disk");
        if (::mount("tmpfs", QFile::encodeName(mount).constData(), "tmpfs", full ? 0 : MS_RDONLY,
                    "size=64k") != 0)
            return {};
        return full ? writeFile(mount + QStringLiteral("/target"), old)
                    : mount + QStringLiteral("/target");
    }
    return {};
}

inline mode_t modeOf(const QString &path, bool follow = true) {
    struct stat st {};
    const QByteArray name = QFile::encodeName(path);
    if ((follow ? ::stat(name.constData(), &st) : ::lstat(name.constData(), &st)) != 0)
        return 0;
    return st.st_mode;
}
