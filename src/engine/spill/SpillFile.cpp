#include "SpillFile.h"

#include <QFile>

#ifdef Q_OS_WIN
#include "engine/platform/WindowsSystem.h"

#include <QDir>

#include <atomic>
#include <string>
#include <windows.h>

// The file has a name for as long as it is open: FILE_FLAG_DELETE_ON_CLOSE has the system
// delete it once its last handle closes, which a kill or Ctrl+C closes too.
TemporaryFile::TemporaryFile(const QString &folder) {
    static std::atomic<unsigned> count{0};
    std::wstring base = windowsPath(folder);
    if (!base.empty() && base.back() != L'\\')
        base += L'\\';
    for (int attempt = 0; attempt < 100; ++attempt) {
        const std::wstring name = base + L"quorvel-find-" + std::to_wstring(GetCurrentProcessId()) +
                                  L"-" + std::to_wstring(count++) + L".tmp";
        file_ = CreateFileW(name.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                            FILE_ATTRIBUTE_TEMPORARY | FILE_FLAG_DELETE_ON_CLOSE, nullptr);
        if (file_ != INVALID_HANDLE_VALUE)
            return;
        if (GetLastError() != ERROR_FILE_EXISTS)
            break;
    }
    throw TemporaryFailure(windowsReason(GetLastError()));
}

TemporaryFile::~TemporaryFile() {
    CloseHandle(file_);
}

void TemporaryFile::append(QByteArrayView bytes) {
    const char *data = bytes.data();
    std::size_t left = std::size_t(bytes.size());
    while (left > 0) {
        OVERLAPPED at{};
        at.Offset = DWORD(size_);
        at.OffsetHigh = DWORD(size_ >> 32);
        DWORD wrote = 0;
        if (!WriteFile(file_, data, DWORD(std::min<std::size_t>(left, 1 << 30)), &wrote, &at))
            throw TemporaryFailure(windowsReason(GetLastError()));
        data += wrote;
        left -= wrote;
        size_ += wrote;
    }
}

std::size_t TemporaryFile::readAt(std::uint64_t offset, char *data, std::size_t size) const {
    std::size_t got = 0;
    while (got < size) {
        OVERLAPPED at{};
        at.Offset = DWORD(offset + got);
        at.OffsetHigh = DWORD((offset + got) >> 32);
        DWORD read = 0;
        if (!ReadFile(file_, data + got, DWORD(std::min<std::size_t>(size - got, 1 << 30)), &read,
                      &at)) {
            if (GetLastError() == ERROR_HANDLE_EOF)
                break;
            throw TemporaryFailure(windowsReason(GetLastError()));
        }
        if (read == 0)
            break;
        got += read;
    }
    return got;
}

QString defaultTemporaryFolder() {
    QString folder = QDir::toNativeSeparators(QDir::tempPath());
    while (folder.size() > 3 && folder.endsWith(QLatin1Char('\\')))
        folder.chop(1);
    return folder;
}

#else

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

#endif
