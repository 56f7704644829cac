#include "FileSystem.h"

#include "engine/core/ErrorReport.h"
#include "engine/core/Shared.h"

#include <QFile>
#include <QFileInfo>
#include <QSaveFile>

#include <cerrno>
#include <csignal>
#include <cstring>

#ifdef Q_OS_UNIX
#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace {
const char BadFileMode[] = "Bad file mode";

#ifndef Q_OS_WIN // Windows saves in WindowsFileSystem.cpp
QString systemReason(int error) {
    return QString::fromLocal8Bit(std::strerror(error));
}
#endif

QString deviceReason(const QIODevice &device) {
    return device.errorString().isEmpty() ? QStringLiteral("Device I/O error")
                                          : device.errorString();
}

#ifndef Q_OS_WIN
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

std::unique_ptr<OutputFile> openSaved(const QString &path) {
    auto saved = std::make_unique<SavedFile>(path);
    // Unbuffered, so a failing write reports the system's reason at once.
    if (!saved->file().open(QIODevice::WriteOnly | QIODevice::Unbuffered))
        throw Failure(deviceReason(saved->file()));
    return saved;
}
#endif
} // namespace

bool FileSystem::fileExists(const QString &path) const {
    return FileExists(path);
}

std::unique_ptr<QIODevice> FileSystem::openForReading(const QString &path) {
    return openRegularFile(path);
}

std::optional<QByteArray> readSmallFile(const QString &path, qint64 maxBytes) {
    std::unique_ptr<QIODevice> file;
    try {
        file = openRegularFile(path);
    } catch (const Failure &failure) {
        if (failure.description() == QLatin1String(BadFileMode))
            return std::nullopt;
        throw;
    }
    if (file->size() > maxBytes)
        return std::nullopt;
    QByteArray bytes(file->size(), Qt::Uninitialized);
    const qint64 got = file->read(bytes.data(), bytes.size());
    if (got < 0)
        throw Failure(deviceReason(*file));
    bytes.truncate(qsizetype(got));
    return bytes;
}

#ifdef Q_OS_UNIX

namespace {
// Opens without blocking (a FIFO without a peer would otherwise hang), then, unless told
// otherwise, makes the descriptor blocking again for ordinary reads and writes.
int openNonBlocking(const QByteArray &name, int flags, bool staysNonBlocking = false) {
    const int fd = ::open(name.constData(), flags | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        throw Failure(systemReason(errno));
    const int status = ::fcntl(fd, F_GETFL);
    if (status != -1 && !staysNonBlocking)
        ::fcntl(fd, F_SETFL, status & ~O_NONBLOCK);
    return fd;
}

// A device or pipe: there is nothing to replace, so it is written as it stands. Its writes
// never block: while a pipe's reader is slow to take more, the window keeps its turns.
class DirectFile : public OutputFile {
public:
    explicit DirectFile(int fd) : device_(fd, *this) {}
    QIODevice &device() override { return device_; }
    void commit() override { device_.close(); } // nothing is held back

private:
    class Device : public QIODevice {
    public:
        Device(int fd, const DirectFile &owner) : fd_(fd), owner_(owner) {
            open(QIODevice::WriteOnly | QIODevice::Unbuffered);
        }
        ~Device() override { ::close(fd_); }

    protected:
        qint64 readData(char *, qint64) override { return -1; }
        qint64 writeData(const char *data, qint64 size) override {
            for (;;) {
                const ssize_t written = ::write(fd_, data, size_t(size));
                if (written >= 0)
                    return written;
                if (errno == EINTR)
                    continue;
                if (errno != EAGAIN && errno != EWOULDBLOCK) {
                    setErrorString(systemReason(errno));
                    return -1;
                }
                pollfd room{fd_, POLLOUT, 0};
                ::poll(&room, 1, 10);
                if (owner_.whileWaiting)
                    owner_.whileWaiting();
            }
        }

    private:
        int fd_;
        const DirectFile &owner_;
    };
    Device device_;
};

void wrap(QFile &file, int fd, QIODevice::OpenMode mode) {
    if (!file.open(fd, mode, QFileDevice::AutoCloseHandle)) {
        ::close(fd);
        throw Failure(deviceReason(file));
    }
}

// An existing file written over where it stands; it is cut to its new length on commit, so a
// save that fails before writing leaves it whole.
class InPlaceFile : public OutputFile {
public:
    explicit InPlaceFile(int fd) { wrap(file_, fd, QIODevice::WriteOnly | QIODevice::Unbuffered); }
    QIODevice &device() override { return file_; }
    void commit() override {
        if (::ftruncate(file_.handle(), file_.pos()) != 0 || ::fsync(file_.handle()) != 0)
            throw Failure(systemReason(errno));
        file_.close();
    }

private:
    QFile file_;
};

// Whether a replacement can be made beside the file and renamed over it.
bool folderTakesReplacement(const QString &path) {
    const QString target = QFileInfo(path).canonicalFilePath(); // where a link leads
    return ::access(QFile::encodeName(QFileInfo(target).absolutePath()).constData(), W_OK | X_OK) ==
           0;
}
} // namespace

std::unique_ptr<QIODevice> openRegularFile(const QString &path) {
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
        return std::make_unique<DirectFile>(openNonBlocking(name, O_WRONLY, true));
    }
    if (!S_ISREG(st.st_mode)) // a block device is never written over
        throw Failure(QString::fromLatin1(BadFileMode));
    // As a direct open would refuse it; a mode without any write bit counts as read-only
    // for root too.
    if (::access(name.constData(), W_OK) != 0)
        throw Failure(systemReason(errno));
    if ((st.st_mode & (S_IWUSR | S_IWGRP | S_IWOTH)) == 0)
        throw Failure(systemReason(EACCES));
    // A replacement would leave the file's other names with the old content, and needs a
    // folder the user may write.
    if (st.st_nlink > 1 || !folderTakesReplacement(path))
        return std::make_unique<InPlaceFile>(openNonBlocking(name, O_WRONLY));
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

#elif !defined(Q_OS_WIN) // Windows: WindowsFileSystem.cpp

std::unique_ptr<QIODevice> openRegularFile(const QString &path) {
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
