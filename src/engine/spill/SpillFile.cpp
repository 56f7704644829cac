#include "SpillFile.h"

#include <QFile>

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include <fcntl.h>
#include <unistd.h>

namespace {
[[noreturn]] void fail(int error) {
    throw TemporaryFailure(QString::fromLocal8Bit(std::strerror(error)));
}
} // namespace

TemporaryFile::TemporaryFile(const QString &folder) {
    const QByteArray path = QFile::encodeName(folder);
#ifdef O_TMPFILE
    fd_ = ::open(path.constData(), O_TMPFILE | O_RDWR | O_EXCL | O_CLOEXEC, 0600);
    // Not every file system knows unnamed files: fall back to one unlinked at once.
    if (fd_ < 0 && errno != EOPNOTSUPP && errno != EISDIR && errno != EINVAL)
        fail(errno);
#endif
    if (fd_ < 0) {
        QByteArray name = path + "/quorvel-find.XXXXXX";
        fd_ = ::mkostemp(name.data(), O_CLOEXEC);
        if (fd_ < 0)
            fail(errno);
        ::unlink(name.constData());
    }
}

TemporaryFile::~TemporaryFile() {
    ::close(fd_);
}

void TemporaryFile::append(QByteArrayView bytes) {
    const char *data = bytes.data();
    std::size_t left = std::size_t(bytes.size());
    while (left > 0) {
        const ssize_t wrote = ::pwrite(fd_, data, left, off_t(size_));
        if (wrote < 0) {
            if (errno == EINTR)
                continue;
            fail(errno);
        }
        data += wrote;
        left -= std::size_t(wrote);
        size_ += std::uint64_t(wrote);
    }
}

std::size_t TemporaryFile::readAt(std::uint64_t offset, char *data, std::size_t size) const {
    std::size_t got = 0;
    while (got < size) {
        const ssize_t read = ::pread(fd_, data + got, size - got, off_t(offset + got));
        if (read < 0) {
            if (errno == EINTR)
                continue;
            fail(errno);
        }
        if (read == 0)
            break;
        got += std::size_t(read);
    }
    return got;
}

QString defaultTemporaryFolder() {
    const QByteArray dir = qgetenv("TMPDIR");
    return dir.isEmpty() ? QStringLiteral("/tmp") : QFile::decodeName(dir);
}
