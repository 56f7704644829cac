#include "PosixFolderSystem.h"

#include <QFile>

#include <cerrno>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {
QByteArray native(const QString &path) {
    return QFile::encodeName(path);
}

// The name as text, or nothing when its bytes have no faithful text form.
std::optional<QString> textName(const char *bytes) {
    const QString name = QFile::decodeName(bytes);
    if (QFile::encodeName(name) != QByteArrayView(bytes))
        return std::nullopt;
    return name;
}

QString lastPart(const QString &path) {
    QStringView view(path);
    while (view.size() > 1 && view.endsWith(QLatin1Char('/')))
        view.chop(1);
    return view.mid(view.lastIndexOf(QLatin1Char('/')) + 1).toString();
}

class Dir {
public:
    explicit Dir(const QString &folder) {
        if (folder.contains(QChar(0)))
            throw FolderFailure(FolderFailure::PathNotFound, QStringLiteral("Path not found"));
        dir_ = opendir(native(folder).constData());
        if (!dir_) {
            const int error = errno;
            const int code = error == EACCES || error == EPERM     ? FolderFailure::PermissionDenied
                             : error == ENOENT || error == ENOTDIR ? FolderFailure::PathNotFound
                                                                   : FolderFailure::Other;
            throw FolderFailure(code, QString::fromLocal8Bit(std::strerror(error)));
        }
    }
    ~Dir() { closedir(dir_); }
    Dir(const Dir &) = delete;
    Dir &operator=(const Dir &) = delete;

    // Calls f(name, isFolder) for each entry but "." and "..". isFolder follows links only
    // when followLinks is set.
    template <class F> void forEach(bool followLinks, F &&f) {
        const int fd = dirfd(dir_);
        errno = 0;
        while (const dirent *entry = readdir(dir_)) {
            const char *name = entry->d_name;
            if (std::strcmp(name, ".") == 0 || std::strcmp(name, "..") == 0)
                continue;
            bool isFolder = entry->d_type == DT_DIR;
            if (entry->d_type == DT_UNKNOWN || (followLinks && entry->d_type == DT_LNK)) {
                struct stat st;
                isFolder = fstatat(fd, name, &st, followLinks ? 0 : AT_SYMLINK_NOFOLLOW) == 0 &&
                           S_ISDIR(st.st_mode);
            }
            f(name, isFolder);
            errno = 0;
        }
        if (errno != 0)
            throw FolderFailure(FolderFailure::Other, QString::fromLocal8Bit(std::strerror(errno)));
    }

private:
    DIR *dir_ = nullptr;
};
} // namespace

std::optional<int> PosixFolderSystem::attributes(const QString &path) const {
    if (path.contains(QChar(0)))
        return std::nullopt;
    const QByteArray name = native(path);
    struct stat link, target;
    if (lstat(name.constData(), &link) != 0)
        return std::nullopt;
    const bool isLink = S_ISLNK(link.st_mode);
    const struct stat &st = isLink && stat(name.constData(), &target) == 0 ? target : link;
    int value = S_ISDIR(st.st_mode) ? Directory : Archive;
    if (lastPart(path).startsWith(QLatin1Char('.')))
        value |= Hidden;
    // Root may write anything, so for root only the mode bits tell a read-only file.
    const bool readOnly = geteuid() == 0 ? (st.st_mode & (S_IWUSR | S_IWGRP | S_IWOTH)) == 0
                                         : access(name.constData(), W_OK) != 0;
    if (readOnly)
        value |= ReadOnly;
    if (isLink)
        value |= ReparsePoint;
    return value;
}

bool PosixFolderSystem::isRootFolder(const QString &path) const {
    struct stat st, root;
    return !path.contains(QChar(0)) && stat(native(path).constData(), &st) == 0 &&
           stat("/", &root) == 0 && st.st_dev == root.st_dev && st.st_ino == root.st_ino;
}

QStringList PosixFolderSystem::subFolderNames(const QString &folder) const {
    QStringList names;
    Dir(folder).forEach(false, [&](const char *name, bool isFolder) {
        if (!isFolder)
            return;
        if (const std::optional<QString> text = textName(name))
            names << *text;
        else
            names << QFile::decodeName(name).replace(QChar::ReplacementCharacter, QLatin1Char('?'));
    });
    sortFolderNames(names);
    return names;
}

QStringList PosixFolderSystem::fileNames(const QString &folder) const {
    QStringList names;
    // A name without a text form could not be opened again by its text: it is left out.
    Dir(folder).forEach(true, [&](const char *name, bool isFolder) {
        if (!isFolder)
            if (const std::optional<QString> text = textName(name))
                names << *text;
    });
    sortFolderNames(names);
    return names;
}

bool PosixFolderSystem::isOpenableFile(const QString &path) const {
    if (path.isEmpty() || path.contains(QChar(0)))
        return false;
#ifdef O_PATH
    // Opens the name only, never the contents: a named pipe or a device is not touched.
    const int fd = open(native(path).constData(), O_PATH | O_CLOEXEC);
    if (fd < 0)
        return false;
    struct stat st;
    const bool isFile = fstat(fd, &st) == 0 && !S_ISDIR(st.st_mode);
    close(fd);
    return isFile;
#else
    struct stat st;
    return stat(native(path).constData(), &st) == 0 && !S_ISDIR(st.st_mode);
#endif
}
