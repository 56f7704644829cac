#pragma once

#include "FolderSystem.h"

// Linux and other POSIX systems: a folder is 16, a name starting with "." is hidden (2),
// anything that is not a folder is archive (32), a path the user may not write is read-only
// (1) and a symbolic link is a reparse point (1024). There is no system bit. The root folder
// is "/". Symbolic links to folders are neither subfolders nor files, so the walk never
// follows one.
class PosixFolderSystem : public FolderSystem {
public:
    QChar separator() const override { return QLatin1Char('/'); }
    std::optional<int> attributes(const QString &path) const override;
    bool isRootFolder(const QString &path) const override;
    QStringList subFolderNames(const QString &folder) const override;
    QStringList fileNames(const QString &folder) const override;
    bool isOpenableFile(const QString &path) const override;
};
