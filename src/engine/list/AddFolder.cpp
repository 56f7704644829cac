#include "AddFolder.h"

#include "engine/core/TimeSlice.h"
#include "engine/platform/FolderSystem.h"
#include "NormalizePath.h"

#include <QScopeGuard>

#include <utility>

namespace {
// Exactly hidden + system + folder (22), with or without the reparse bit (1046). Linux never
// sets the system bit, so here these never match; they stay because the walk works on
// FolderSystem's Windows attribute values, and a tree that carries them (the tests' Windows
// trees, a port) must be walked as Windows walks it.
constexpr int HiddenSystemFolder =
    FolderSystem::Hidden | FolderSystem::System | FolderSystem::Directory;
constexpr int HiddenSystemLink = HiddenSystemFolder | FolderSystem::ReparsePoint;
// Exactly archive + hidden: a file the user hid.
constexpr int HiddenFile = FolderSystem::Archive | FolderSystem::Hidden;
} // namespace

AddFolder::AddFolder(const FolderSystem &files, TimeSlice *slice, Trap::Reporter reporter,
                     Sink sink)
    : files_(files), slice_(slice), reporter_(std::move(reporter)), sink_(std::move(sink)),
      separator_(files.separator()), pathLimit_(files.pathLimit()) {}

void AddFolder::DropPaths(const QStringList &paths) {
    const auto release = qScopeGuard([this] { files_.endWalk(); });
    try {
        for (const QString &given : paths) {
            turn();
            // A dropped URL's path has "/"; Windows' paths are shown with its own separator.
            const QString path = separator_ == QLatin1Char('\\')
                                     ? QString(given).replace(QLatin1Char('/'), separator_)
                                     : given;
            if (IsFolder(path)) {
                flush();
                holding_ = true;
                addFolderItems(path);
                holding_ = false;
                flush();
            } else
                pending_.append(path);
        }
    } catch (const Aborted &) {
        throw;
    } catch (...) {
        // What the drop found so far stays.
        flush();
        throw;
    }
    flush();
}

void AddFolder::addFolderItems(const QString &dropped) {
    FolderList folders{dropped + separator_};
    GetSubDirectories2016(folders, true);
    for (const QString &entry : std::as_const(folders)) {
        const QString folder = entry.chopped(1);
        QStringList names;
        try {
            names = GetFilesInFolder(folder);
        } catch (const FolderFailure &) {
            continue; // vanished or unreadable meanwhile: nothing to list
        }
        for (const QString &name : std::as_const(names)) {
            turn();
            if (name.startsWith(QLatin1Char('~')))
                continue;
            const QString path = folder + separator_ + name;
            // GetFilesInFolder found the file openable; it is not asked twice.
            if (files_.attributes(path) != HiddenFile)
                pending_.append(NormalizePath(path, separator_));
        }
    }
}

void AddFolder::GetSubDirectories2016(FolderList &folders, bool recurse) {
    walkLevel(folders, recurse);
}

qsizetype AddFolder::walkLevel(FolderList &folders, bool recurse) {
    Trap t(QString::fromLatin1(ErrorLocation::GetSubDirectories2016), reporter_);
    FolderList children;
    for (qsizetype i = 0; i < folders.size(); ++i) {
        const QString folder = folders[i];
        try {
            examine(folder, children);
        } catch (const FolderFailure &failure) {
            // An unreadable or vanished folder is dropped with everything below it.
            if (failure.code() == FolderFailure::PermissionDenied ||
                failure.code() == FolderFailure::PathNotFound) {
                const qsizetype at = folders.indexOf(folder);
                if (at >= 0) {
                    folders.removeAt(at);
                    if (at <= i)
                        --i;
                }
            }
        } catch (const std::exception &) {
            // Any other trouble with one folder leaves it in the list, unreported.
        }
    }
    const qsizetype kept = folders.size();
    qsizetype found = children.size();
    if (recurse && !children.isEmpty())
        t.step(150, [&] { found = walkLevel(children, true); });
    for (qsizetype i = 0; i < children.size(); ++i) {
        const QString &child = children[i];
        // Folders the deeper levels appended passed this very test there.
        if (i >= found) {
            folders << child;
            continue;
        }
        t.step(154, [&] {
            if (!IsFolder(child))
                return;
            turn();
            if (!isHiddenSystemFolder(child))
                folders << child;
        });
    }
    return kept;
}

void AddFolder::examine(const QString &folder, FolderList &children) {
    if (!IsFolder(folder) || folder.size() >= pathLimit_)
        return;
    turn();
    if (isHiddenSystemFolder(folder))
        return;
    const QStringList names = files_.subFolderNames(folder);
    ++foldersSeen_;
    for (const QString &name : names) {
        turn();
        if (name.size() >= pathLimit_ || HasOddChars(name) || name == QLatin1String(".") ||
            name == QLatin1String(".."))
            continue;
        children << folder + name + separator_;
    }
}

bool AddFolder::isHiddenSystemFolder(const QString &folder) {
    const int value = folderAttributes(folder).value_or(0);
    if (value != HiddenSystemFolder && value != HiddenSystemLink)
        return false;
    auto root = rootFolders_.constFind(folder);
    if (root == rootFolders_.cend())
        root = rootFolders_.insert(folder, files_.isRootFolder(folder));
    return !*root;
}

std::optional<int> AddFolder::folderAttributes(const QString &folder) {
    auto known = attributes_.constFind(folder);
    if (known == attributes_.cend())
        known = attributes_.insert(folder, files_.attributes(folder));
    return *known;
}

QStringList AddFolder::GetFilesInFolder(QString folder) {
    if (!folder.endsWith(separator_))
        folder += separator_;
    QStringList names;
    for (const QString &name : files_.fileNames(folder)) {
        turn();
        if (IsOpenableFile(folder + name))
            names << name;
    }
    return names;
}

bool AddFolder::IsOpenableFile(const QString &path) const {
    return files_.isOpenableFile(path);
}

bool AddFolder::IsFolder(const QString &path) {
    return folderAttributes(path).value_or(0) & FolderSystem::Directory;
}

bool AddFolder::HasOddChars(QStringView name) {
    for (const char32_t c : name.toUcs4())
        if (c < 32 || (c >= 127 && c <= 159) || c == U'?')
            return true;
    return false;
}

void AddFolder::turn() {
    if (slice_ && slice_->due()) {
        if (!holding_)
            flush();
        if (Progress *progress = slice_->progress()) {
            const qsizetype found = filesFound_ + pending_.size();
            slice_->setStepDone(found);
            progress->detail = QStringLiteral("%1 folders looked into, %2 files found")
                                   .arg(foldersSeen_)
                                   .arg(found);
        }
        slice_->yield();
    }
}

void AddFolder::flush() {
    if (pending_.isEmpty())
        return;
    filesFound_ += pending_.size();
    const TextStore items = std::exchange(pending_, TextStore());
    sink_(items);
}
