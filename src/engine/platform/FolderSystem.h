#pragma once

#include "engine/core/ErrorReport.h"

#include <QString>
#include <QStringList>

#include <memory>
#include <optional>

// A failure to list a folder, with the error number the folder walk tells apart.
class FolderFailure : public Failure {
public:
    static constexpr int PermissionDenied = 70;
    static constexpr int PathNotFound = 76;
    static constexpr int Other = 0;

    FolderFailure(int code, QString description) : Failure(std::move(description)), code_(code) {}
    int code() const { return code_; }

private:
    int code_;
};

// What the folder walk of a drop reads from the file system, so tests can build any tree,
// attributes included.
class FolderSystem {
public:
    // Attribute bits of a path, as Windows numbers them.
    static constexpr int ReadOnly = 1;
    static constexpr int Hidden = 2;
    static constexpr int System = 4;
    static constexpr int Directory = 16;
    static constexpr int Archive = 32;
    static constexpr int ReparsePoint = 1024;

    virtual ~FolderSystem() = default;

    virtual QChar separator() const = 0;
    // The attribute value of the path, or nothing when it cannot be read. Never fails.
    virtual std::optional<int> attributes(const QString &path) const = 0;
    virtual bool isRootFolder(const QString &path) const = 0;
    // Names of the folder's immediate subfolders, sorted by name. A name that has no text
    // form on this system comes with "?" in place of what cannot be shown. Throws
    // FolderFailure.
    virtual QStringList subFolderNames(const QString &folder) const = 0;
    // Names of the folder's files (everything that is not a folder, hidden ones included),
    // sorted by name. Throws FolderFailure.
    virtual QStringList fileNames(const QString &folder) const = 0;
    // Whether the file at path can be opened (not a folder, not a dangling link). Never
    // fails.
    virtual bool isOpenableFile(const QString &path) const = 0;
    // A walk has ended: anything kept open for it is let go, so that a later walk sees
    // folders moved or replaced meanwhile.
    virtual void endWalk() const {}

    // Paths this long or longer are not walked: Windows' limit where "\" separates, the
    // platform's elsewhere.
    int pathLimit() const { return separator() == QLatin1Char('\\') ? 260 : 4096; }
};

// The file system of the machine the program runs on: each system's folder system defines it,
// and the build compiles the one for its platform.
std::unique_ptr<FolderSystem> makeSystemFolderSystem();

// Sorts names the way Windows' own file system lists them: case-insensitively, ties broken
// by the exact text so the order is stable.
void sortFolderNames(QStringList &names);
