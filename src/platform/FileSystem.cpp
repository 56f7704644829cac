#include "FileSystem.h"

#include "app/ErrorReport.h"
#include "app/Shared.h"

#include <QFile>
#include <QFileInfo>
#include <QSaveFile>

#include <cerrno>
#include <csignal>
#include <cstring>

#ifdef Q_OS_UNIX
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace {
const char BadFileMode[] = "Bad file mode";

QString systemReason(int error) {
    return QString::fromLocal8Bit(std::strerror(error));
}

QString deviceReason(const QIODevice &device) {
    return device.errorString().isEmpty() ? QStringLiteral("Device I/O error")
                                          : device.errorString();
}

// Written aside, renamed over the target on commit.
class SavedFile : public OutputFile {
public:
    explicit SavedFile(const QString &path) : file_(path) {}
    QSaveFile &file() { return file_; }
    QIODevice &device() override { return file_; }
    void commit() override {
        if (!file_.commit())
            throw Failure(deviceReason(file_));
    }

private:
    QSaveFile file_;
};

// A device or pipe: there is nothing to replace, so it is written as it stands.
class DirectFile : public OutputFile {
public:
    QFile &file() { return file_; }
    QIODevice &device() override { return file_; }
    void commit() override {
        if (!file_.flush())
            throw Failure(deviceReason(file_));
        file_.close();
    }

private:
    QFile file_;
};

std::unique_ptr<OutputFile> openSaved(const QString &path) {
    auto saved = std::make_unique<SavedFile>(path);
    // Unbuffered, so a failing write reports the system's reason at once.
    if (!saved->file().open(QIODevice::WriteOnly | QIODevice::Unbuffered))
        throw Failure(deviceReason(saved->file()));
    return saved;
}
} // namespace

bool FileSystem::fileExists(const QString &path) const {
    return FileExists(path);
}

#ifdef Q_OS_UNIX

namespace {
// Opens without blocking (a FIFO without a peer would otherwise hang), then makes the
// descriptor blocking again for ordinary reads and writes.
int openNonBlocking(const QByteArray &name, int flags) {
    const int fd = ::open(name.constData(), flags | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        throw Failure(systemReason(errno));
    const int status = ::fcntl(fd, F_GETFL);
    if (status != -1)
        ::fcntl(fd, F_SETFL, status & ~O_NONBLOCK);
    return fd;
}

void wrap(QFile &file, int fd, QIODevice::OpenMode mode) {
    if (!file.open(fd, mode, QFileDevice::AutoCloseHandle)) {
        ::close(fd);
        throw Failure(deviceReason(file));
    }
}
} // namespace

std::unique_ptr<QIODevice> FileSystem::openForReading(const QString &path) {
    const QByteArray name = QFile::encodeName(path);
    struct stat st {};
    if (::stat(name.constData(), &st) != 0)
        throw Failure(systemReason(errno));
    if (!S_ISREG(st.st_mode))
        throw Failure(QString::fromLatin1(BadFileMode));
    const int fd = openNonBlocking(name, O_RDONLY);
    // The path may have been given to something else since it was looked at.
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(fd);
        throw Failure(QString::fromLatin1(BadFileMode));
    }
    auto file = std::make_unique<QFile>();
    wrap(*file, fd, QIODevice::ReadOnly);
    return file;
}

std::unique_ptr<OutputFile> FileSystem::openForWriting(const QString &path) {
    const QByteArray name = QFile::encodeName(path);
    struct stat st {};
    if (::stat(name.constData(), &st) != 0) {
        if (errno == ENOENT) // a new file, or a link to one
            return openSaved(path);
        throw Failure(systemReason(errno));
    }
    if (S_ISDIR(st.st_mode))
        throw Failure(systemReason(EISDIR));
    if (S_ISCHR(st.st_mode) || S_ISFIFO(st.st_mode) || S_ISSOCK(st.st_mode)) {
        // A pipe whose reader goes away is a failed write to report ("Broken pipe"), not the
        // end of the program.
        std::signal(SIGPIPE, SIG_IGN);
        auto direct = std::make_unique<DirectFile>();
        wrap(direct->file(), openNonBlocking(name, O_WRONLY),
             QIODevice::WriteOnly | QIODevice::Unbuffered);
        return direct;
    }
    if (!S_ISREG(st.st_mode)) // a block device is never written over
        throw Failure(QString::fromLatin1(BadFileMode));
    // As a direct open would refuse it; a mode without any write bit counts as read-only
    // for root too.
    if (::access(name.constData(), W_OK) != 0)
        throw Failure(systemReason(errno));
    if ((st.st_mode & (S_IWUSR | S_IWGRP | S_IWOTH)) == 0)
        throw Failure(systemReason(EACCES));
    auto saved = openSaved(path);
    // The replacement takes the old file's place with its mode and, where allowed, owner.
    const int fd = static_cast<SavedFile &>(*saved).file().handle();
    if (fd >= 0) {
        if (::fchown(fd, st.st_uid, st.st_gid) != 0 && ::fchown(fd, uid_t(-1), st.st_gid) != 0) {
            // Not ours to give away; the mode still carries over.
        }
        ::fchmod(fd, st.st_mode & 07777);
    }
    return saved;
}

#else

std::unique_ptr<QIODevice> FileSystem::openForReading(const QString &path) {
    if (!QFileInfo(path).isFile())
        throw Failure(QString::fromLatin1(BadFileMode));
    auto file = std::make_unique<QFile>(path);
    if (!file->open(QIODevice::ReadOnly))
        throw Failure(deviceReason(*file));
    return file;
}

std::unique_ptr<OutputFile> FileSystem::openForWriting(const QString &path) {
    const QFileInfo info(path);
    if (info.isDir())
        throw Failure(systemReason(EISDIR));
    if (info.exists() && !info.isWritable())
        throw Failure(systemReason(EACCES));
    return openSaved(path);
}

#endif
