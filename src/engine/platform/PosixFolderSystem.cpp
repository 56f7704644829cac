#include "PosixFolderSystem.h"

#include <QFile>

#include <cerrno>
#include <climits>
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

int folderFailureCode(int error) {
    return error == EACCES || error == EPERM     ? FolderFailure::PermissionDenied
           : error == ENOENT || error == ENOTDIR ? FolderFailure::PathNotFound
                                                 : FolderFailure::Other;
}

class Dir {
public:
    // Takes over fd, an open folder.
    explicit Dir(int fd) : dir_(fdopendir(fd)) {
        if (!dir_) {
            const int error = errno;
            ::close(fd);
            throw FolderFailure(folderFailureCode(error),
                                QString::fromLocal8Bit(std::strerror(error)));
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

std::unique_ptr<FolderSystem> makeSystemFolderSystem() {
    return std::make_unique<PosixFolderSystem>();
}

PosixFolderSystem::~PosixFolderSystem() {
    endWalk();
}

void PosixFolderSystem::endWalk() const {
    if (heldFolder_ >= 0)
        ::close(heldFolder_);
    heldFolder_ = -1;
    heldPath_.clear();
}

PosixFolderSystem::Place PosixFolderSystem::place(const QString &path) const {
    QByteArray full = native(path);
    qsizetype end = full.size();
    while (end > 1 && full[end - 1] == '/')
        --end;
    const qsizetype slash = full.lastIndexOf('/', end - 1);
    // The name keeps any final "/", which makes the system follow a link to a folder. A
    // path too long for the system is refused as a whole, as before.
    if (heldFolder_ >= 0 && slash > 0 && full.size() < PATH_MAX &&
        QByteArrayView(full).first(slash) == heldPath_)
        return {heldFolder_, full.mid(slash + 1)};
    return {AT_FDCWD, full};
}

int PosixFolderSystem::openFolder(const QString &folder) const {
    if (folder.contains(QChar(0)))
        throw FolderFailure(FolderFailure::PathNotFound, QStringLiteral("Path not found"));
    const Place at = place(folder);
    const int fd = ::openat(at.folder, at.name.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) {
        const int error = errno;
        throw FolderFailure(folderFailureCode(error), QString::fromLocal8Bit(std::strerror(error)));
    }
    const int held = ::fcntl(fd, F_DUPFD_CLOEXEC, 0);
    endWalk();
    if (held >= 0) {
        QByteArray path = native(folder);
        while (path.size() > 1 && path.endsWith('/'))
            path.chop(1);
        heldPath_ = path;
        heldFolder_ = held;
    }
    return fd;
}

std::optional<int> PosixFolderSystem::attributes(const QString &path) const {
    if (path.contains(QChar(0)))
        return std::nullopt;
    const Place at = place(path);
    const char *name = at.name.constData();
    struct stat link, target;
    if (fstatat(at.folder, name, &link, AT_SYMLINK_NOFOLLOW) != 0)
        return std::nullopt;
    const bool isLink = S_ISLNK(link.st_mode);
    const struct stat &st = isLink && fstatat(at.folder, name, &target, 0) == 0 ? target : link;
    int value = S_ISDIR(st.st_mode) ? Directory : Archive;
    if (lastPart(path).startsWith(QLatin1Char('.')))
        value |= Hidden;
    // Root may write anything, so for root only the mode bits tell a read-only file.
    const bool readOnly = geteuid() == 0 ? (st.st_mode & (S_IWUSR | S_IWGRP | S_IWOTH)) == 0
                                         : faccessat(at.folder, name, W_OK, 0) != 0;
    if (readOnly)
        value |= ReadOnly;
    if (isLink)
        value |= ReparsePoint;
    return value;
}

bool PosixFolderSystem::isRootFolder(const QString &path) const {
    if (path.contains(QChar(0)))
        return false;
    const Place at = place(path);
    struct stat st, root;
    return fstatat(at.folder, at.name.constData(), &st, 0) == 0 && stat("/", &root) == 0 &&
           st.st_dev == root.st_dev && st.st_ino == root.st_ino;
}

QStringList PosixFolderSystem::subFolderNames(const QString &folder) const {
    QStringList names;
    Dir(openFolder(folder)).forEach(false, [&](const char *name, bool isFolder) {
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
    Dir(openFolder(folder)).forEach(true, [&](const char *name, bool isFolder) {
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
    const Place at = place(path);
    struct stat st;
#ifdef O_PATH
    // Opens the name only, never the contents: a named pipe or a device is not touched.
    const int fd = ::openat(at.folder, at.name.constData(), O_PATH | O_CLOEXEC);
    if (fd < 0)
        return false;
    const bool isFile = fstat(fd, &st) == 0 && !S_ISDIR(st.st_mode);
    ::close(fd);
    return isFile;
#else
    return fstatat(at.folder, at.name.constData(), &st, 0) == 0 && !S_ISDIR(st.st_mode);
#endif
}
