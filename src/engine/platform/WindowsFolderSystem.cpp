#include "WindowsFolderSystem.h"

#include "WindowsSystem.h"

#include <windows.h>

namespace {
constexpr DWORD KnownBits = FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN |
                            FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_DIRECTORY |
                            FILE_ATTRIBUTE_ARCHIVE | FILE_ATTRIBUTE_REPARSE_POINT;

int folderFailureCode(DWORD error) {
    switch (error) {
    case ERROR_ACCESS_DENIED:
    case ERROR_SHARING_VIOLATION:
        return FolderFailure::PermissionDenied;
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
    case ERROR_DIRECTORY:
    case ERROR_INVALID_NAME:
    case ERROR_BAD_NETPATH:
    case ERROR_NOT_READY:
        return FolderFailure::PathNotFound;
    default:
        return FolderFailure::Other;
    }
}

bool hasNul(const QString &path) {
    return path.contains(QChar(0));
}

QString withSeparator(const QString &folder) {
    return folder.endsWith(QLatin1Char('\\')) || folder.endsWith(QLatin1Char('/'))
               ? folder
               : folder + QLatin1Char('\\');
}

// Calls f(name, attributes) for each entry of the folder but "." and "..".
template <class F> void forEachEntry(const QString &folder, F &&f) {
    if (hasNul(folder))
        throw FolderFailure(FolderFailure::PathNotFound, windowsReason(ERROR_PATH_NOT_FOUND));
    WIN32_FIND_DATAW entry;
    const std::wstring pattern = windowsPath(withSeparator(folder) + QLatin1Char('*'));
    const HANDLE find = FindFirstFileExW(pattern.c_str(), FindExInfoBasic, &entry,
                                         FindExSearchNameMatch, nullptr, FIND_FIRST_EX_LARGE_FETCH);
    if (find == INVALID_HANDLE_VALUE) {
        const DWORD error = GetLastError();
        // A root folder without entries has not even "." to list.
        if (error == ERROR_FILE_NOT_FOUND || error == ERROR_NO_MORE_FILES)
            return;
        throw FolderFailure(folderFailureCode(error), windowsReason(error));
    }
    struct Closer {
        HANDLE find;
        ~Closer() { FindClose(find); }
    } closer{find};
    do {
        const QString name = QString::fromWCharArray(entry.cFileName);
        if (name != QLatin1String(".") && name != QLatin1String(".."))
            f(name, entry.dwFileAttributes);
    } while (FindNextFileW(find, &entry));
    const DWORD error = GetLastError();
    if (error != ERROR_NO_MORE_FILES)
        throw FolderFailure(FolderFailure::Other, windowsReason(error));
}
} // namespace

std::unique_ptr<FolderSystem> makeSystemFolderSystem() {
    return std::make_unique<WindowsFolderSystem>();
}

std::optional<int> WindowsFolderSystem::attributes(const QString &path) const {
    if (path.isEmpty() || hasNul(path))
        return std::nullopt;
    const DWORD value = GetFileAttributesW(windowsPath(path).c_str());
    if (value == INVALID_FILE_ATTRIBUTES)
        return std::nullopt;
    return int(value & KnownBits);
}

bool WindowsFolderSystem::isRootFolder(const QString &path) const {
    if (path.isEmpty() || hasNul(path))
        return false;
    const std::wstring native = windowsPath(withSeparator(path));
    std::wstring volume(native.size() + MAX_PATH, L'\0');
    if (!GetVolumePathNameW(native.c_str(), volume.data(), DWORD(volume.size())))
        return false;
    volume.resize(wcslen(volume.c_str()));
    std::wstring full(native.size() + MAX_PATH, L'\0');
    const DWORD length = GetFullPathNameW(native.c_str(), DWORD(full.size()), full.data(), nullptr);
    if (length == 0 || length >= full.size())
        return false;
    full.resize(length);
    return QString::fromStdWString(full).compare(QString::fromStdWString(volume),
                                                 Qt::CaseInsensitive) == 0;
}

QStringList WindowsFolderSystem::subFolderNames(const QString &folder) const {
    QStringList names;
    forEachEntry(folder, [&](const QString &name, DWORD value) {
        if ((value & FILE_ATTRIBUTE_DIRECTORY) && !(value & FILE_ATTRIBUTE_REPARSE_POINT))
            names << name;
    });
    sortFolderNames(names);
    return names;
}

QStringList WindowsFolderSystem::fileNames(const QString &folder) const {
    QStringList names;
    forEachEntry(folder, [&](const QString &name, DWORD value) {
        if (!(value & FILE_ATTRIBUTE_DIRECTORY))
            names << name;
    });
    sortFolderNames(names);
    return names;
}

bool WindowsFolderSystem::isOpenableFile(const QString &path) const {
    if (path.isEmpty() || hasNul(path))
        return false;
    // Opened for no access at all: the contents of a device or pipe are never touched. A
    // folder cannot be opened this way, nor can a link that leads nowhere.
    const HANDLE file = CreateFileW(windowsPath(path).c_str(), 0,
                                    FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                    OPEN_EXISTING, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return false;
    BY_HANDLE_FILE_INFORMATION info;
    const bool isFile = GetFileInformationByHandle(file, &info) &&
                        !(info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY);
    CloseHandle(file);
    return isFile;
}
