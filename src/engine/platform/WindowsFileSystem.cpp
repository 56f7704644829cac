// The file operations of FileSystem.h on Windows: saves replace the target with ReplaceFileW,
// which keeps its attributes, or are written in place; devices are written as they stand.
#include "FileSystem.h"

#include "engine/core/ErrorReport.h"
#include "WindowsSystem.h"

#include <QFile>
#include <QFileInfo>

#include <cerrno>
#include <cstring>
#include <io.h>
#include <memory>
#include <windows.h>

namespace {
const char BadFileMode[] = "Bad file mode";

[[noreturn]] void failWith(DWORD error) {
    throw Failure(windowsReason(error));
}

[[noreturn]] void failWithErrno(int error) {
    throw Failure(QString::fromLocal8Bit(std::strerror(error)));
}

// NUL, CON, COM1, LPT1 and the like (any extension, any folder), or a "\\.\" device path:
// names Windows gives to devices, which are never read as lists nor replaced.
bool isDeviceName(const QString &path) {
    const QString native = QString(path).replace(QLatin1Char('/'), QLatin1Char('\\'));
    if (native.startsWith(QLatin1String("\\\\.\\")))
        return true;
    QString name = native.mid(native.lastIndexOf(QLatin1Char('\\')) + 1);
    if (name.size() == 2 || (name.size() > 2 && name[1] == QLatin1Char(':')))
        name = name.mid(2); // "C:NUL"
    name = name.left(name.indexOf(QLatin1Char('.'))).trimmed().toUpper();
    static const QStringList plain{QStringLiteral("CON"),    QStringLiteral("PRN"),
                                   QStringLiteral("AUX"),    QStringLiteral("NUL"),
                                   QStringLiteral("CONIN$"), QStringLiteral("CONOUT$")};
    if (plain.contains(name))
        return true;
    return name.size() == 4 &&
           (name.startsWith(QLatin1String("COM")) || name.startsWith(QLatin1String("LPT"))) &&
           name[3] >= QLatin1Char('1') && name[3] <= QLatin1Char('9');
}

struct HandleCloser {
    void operator()(void *handle) const {
        if (handle != INVALID_HANDLE_VALUE)
            CloseHandle(handle);
    }
};
using Handle = std::unique_ptr<void, HandleCloser>;

Handle openHandle(const std::wstring &path, DWORD access, DWORD disposition, DWORD flags = 0) {
    const HANDLE handle =
        CreateFileW(path.c_str(), access, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                    nullptr, disposition, flags, nullptr);
    if (handle == INVALID_HANDLE_VALUE)
        failWith(GetLastError());
    return Handle(handle);
}

// Writes straight to a handle, every byte or an error.
class HandleDevice : public QIODevice {
public:
    explicit HandleDevice(Handle handle) : handle_(std::move(handle)) {
        open(QIODevice::WriteOnly | QIODevice::Unbuffered);
    }
    HANDLE handle() const { return handle_.get(); }
    qint64 written() const { return written_; }
    void release() { handle_.reset(); }
    bool isSequential() const override { return true; }

protected:
    qint64 readData(char *, qint64) override { return -1; }
    qint64 writeData(const char *data, qint64 size) override {
        qint64 done = 0;
        while (done < size) {
            DWORD wrote = 0;
            const DWORD chunk = DWORD(std::min<qint64>(size - done, 1 << 30));
            if (!WriteFile(handle_.get(), data + done, chunk, &wrote, nullptr)) {
                setErrorString(windowsReason(GetLastError()));
                return -1;
            }
            done += wrote;
        }
        written_ += done;
        return done;
    }

private:
    Handle handle_;
    qint64 written_ = 0; // a sequential device has no position
};

// A device or pipe: written as it stands, nothing held back.
class DirectFile : public OutputFile {
public:
    explicit DirectFile(Handle handle) : device_(std::move(handle)) {}
    QIODevice &device() override { return device_; }
    void commit() override { device_.close(); }

private:
    HandleDevice device_;
};

// An existing file written over where it stands (another hard link shares it, or its folder
// takes no new file): cut to its new length on commit, so a save that fails before writing
// leaves it whole.
class InPlaceFile : public OutputFile {
public:
    explicit InPlaceFile(Handle handle) : device_(std::move(handle)) {}
    QIODevice &device() override { return device_; }
    void commit() override {
        const HANDLE file = device_.handle();
        LARGE_INTEGER end;
        end.QuadPart = device_.written();
        if (!SetFilePointerEx(file, end, nullptr, FILE_BEGIN) || !SetEndOfFile(file) ||
            !FlushFileBuffers(file))
            failWith(GetLastError());
        device_.release();
    }

private:
    HandleDevice device_;
};

// Written beside the target, which it replaces on commit: ReplaceFileW keeps the target's
// attributes (hidden, read-only aside), its security and its creation time. Removed unless
// committed.
class ReplacingFile : public OutputFile {
public:
    // attributes: the target's, or INVALID_FILE_ATTRIBUTES for a new file.
    ReplacingFile(std::wstring target, std::wstring aside, Handle handle, DWORD attributes)
        : target_(std::move(target)), aside_(std::move(aside)), attributes_(attributes),
          device_(std::move(handle)) {}
    ~ReplacingFile() override {
        device_.release();
        if (!committed_)
            DeleteFileW(aside_.c_str());
    }
    QIODevice &device() override { return device_; }
    void commit() override {
        if (!FlushFileBuffers(device_.handle()))
            failWith(GetLastError());
        device_.release();
        const bool exists = attributes_ != INVALID_FILE_ATTRIBUTES;
        const bool replaced =
            exists ? ReplaceFileW(target_.c_str(), aside_.c_str(), nullptr,
                                  REPLACEFILE_IGNORE_MERGE_ERRORS | REPLACEFILE_IGNORE_ACL_ERRORS,
                                  nullptr, nullptr)
                   : MoveFileExW(aside_.c_str(), target_.c_str(), MOVEFILE_WRITE_THROUGH);
        if (!replaced)
            failWith(GetLastError());
        committed_ = true;
        // Wine's ReplaceFileW gives the file the replacement's attributes.
        if (exists && GetFileAttributesW(target_.c_str()) != attributes_)
            SetFileAttributesW(target_.c_str(), attributes_);
    }

private:
    std::wstring target_, aside_;
    DWORD attributes_;
    bool committed_ = false;
    HandleDevice device_;
};

// Where a link leads: the file a save replaces.
std::wstring finalPath(HANDLE file, const std::wstring &fallback) {
    std::wstring path(MAX_PATH, L'\0');
    DWORD length = GetFinalPathNameByHandleW(file, path.data(), DWORD(path.size()), 0);
    if (length >= path.size()) {
        path.resize(length + 1);
        length = GetFinalPathNameByHandleW(file, path.data(), DWORD(path.size()), 0);
    }
    if (length == 0 || length >= path.size())
        return fallback;
    path.resize(length);
    return path;
}

// A new file beside target, or nothing where the folder takes none.
std::optional<std::pair<std::wstring, Handle>> createAside(const std::wstring &target) {
    const std::wstring::size_type slash = target.find_last_of(L'\\');
    const std::wstring folder = slash == std::wstring::npos ? L"." : target.substr(0, slash);
    for (int attempt = 0; attempt < 100; ++attempt) {
        const std::wstring aside = folder + L"\\~quorvel-" +
                                   std::to_wstring(GetCurrentProcessId()) + L"-" +
                                   std::to_wstring(GetTickCount64() % 1000000 + attempt) + L".tmp";
        const HANDLE handle = CreateFileW(aside.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                          FILE_ATTRIBUTE_NORMAL, nullptr);
        if (handle != INVALID_HANDLE_VALUE)
            return std::make_pair(aside, Handle(handle));
        const DWORD error = GetLastError();
        if (error == ERROR_ACCESS_DENIED)
            return std::nullopt;
        if (error != ERROR_FILE_EXISTS && error != ERROR_ALREADY_EXISTS)
            failWith(error);
    }
    failWith(ERROR_FILE_EXISTS);
}
} // namespace

std::unique_ptr<QIODevice> openRegularFile(const QString &path) {
    if (path.isEmpty() || path.contains(QChar(0)))
        failWith(ERROR_INVALID_NAME);
    if (isDeviceName(path))
        throw Failure(QString::fromLatin1(BadFileMode));
    const DWORD attributes = GetFileAttributesW(windowsPath(path).c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES)
        failWith(GetLastError());
    if (attributes & FILE_ATTRIBUTE_DIRECTORY)
        throw Failure(QString::fromLatin1(BadFileMode));
    auto file = std::make_unique<QFile>(path);
    if (!file->open(QIODevice::ReadOnly))
        throw Failure(file->errorString());
    // The path may have been given to something else since it was looked at.
    const auto handle = HANDLE(_get_osfhandle(file->handle()));
    if (GetFileType(handle) != FILE_TYPE_DISK)
        throw Failure(QString::fromLatin1(BadFileMode));
    return file;
}

std::unique_ptr<OutputFile> FileSystem::openForWriting(const QString &path) {
    if (path.isEmpty() || path.contains(QChar(0)))
        failWith(ERROR_INVALID_NAME);
    const std::wstring name = windowsPath(path);
    if (isDeviceName(path))
        return std::make_unique<DirectFile>(openHandle(name, GENERIC_WRITE, OPEN_EXISTING));
    const DWORD attributes = GetFileAttributesW(name.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) {
        const DWORD error = GetLastError();
        if (error != ERROR_FILE_NOT_FOUND)
            failWith(error);
        auto aside = createAside(name);
        if (!aside)
            failWith(ERROR_ACCESS_DENIED);
        return std::make_unique<ReplacingFile>(name, aside->first, std::move(aside->second),
                                               INVALID_FILE_ATTRIBUTES);
    }
    if (attributes & FILE_ATTRIBUTE_DIRECTORY)
        failWithErrno(EISDIR);
    if (attributes & FILE_ATTRIBUTE_READONLY)
        failWithErrno(EACCES);
    // Opened for writing, as a direct write would be: what the user may not write is refused.
    Handle target = openHandle(name, GENERIC_READ | GENERIC_WRITE, OPEN_EXISTING);
    const DWORD type = GetFileType(target.get());
    if (type == FILE_TYPE_CHAR || type == FILE_TYPE_PIPE)
        return std::make_unique<DirectFile>(std::move(target));
    if (type != FILE_TYPE_DISK)
        throw Failure(QString::fromLatin1(BadFileMode));
    BY_HANDLE_FILE_INFORMATION info;
    if (!GetFileInformationByHandle(target.get(), &info))
        failWith(GetLastError());
    // A replacement would leave the file's other names with the old content.
    if (info.nNumberOfLinks > 1)
        return std::make_unique<InPlaceFile>(std::move(target));
    const std::wstring place = finalPath(target.get(), name);
    auto aside = createAside(place);
    if (!aside)
        return std::make_unique<InPlaceFile>(std::move(target));
    return std::make_unique<ReplacingFile>(place, aside->first, std::move(aside->second),
                                           attributes);
}
