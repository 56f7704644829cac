#pragma once

#include "FolderSystem.h"

// Linux and other POSIX systems: a folder is 16, a name starting with "." is hidden (2),
// anything that is not a folder is archive (32), a path the user may not write is read-only
// (1) and a symbolic link is a reparse point (1024). There is no system bit. The root folder
// is "/". Symbolic links to folders are neither subfolders nor files, so the walk never
// follows one.
class PosixFolderSystem : public FolderSystem {
public:
    ~PosixFolderSystem() override;
    QChar separator() const override { return QLatin1Char('/'); }
    std::optional<int> attributes(const QString &path) const override;
    bool isRootFolder(const QString &path) const override;
    QStringList subFolderNames(const QString &folder) const override;
    QStringList fileNames(const QString &folder) const override;
    bool isOpenableFile(const QString &path) const override;
    void endWalk() const override;

private:
    // A path as a folder to look in and a name in it: the folder opened last when the path
    // lies right in it, else the whole path.
    struct Place {
        int folder;
        QByteArray name;
    };
    Place place(const QString &path) const;
    // Opens a folder for listing and keeps it as the one opened last.
    int openFolder(const QString &folder) const;

    // The folder opened last stays open, so a walk resolves a deep path one step from its
    // parent instead of from the root each time: otherwise a deep tree costs the square of
    // its depth in the system's path lookups.
    mutable QByteArray heldPath_;
    mutable int heldFolder_ = -1;
};
