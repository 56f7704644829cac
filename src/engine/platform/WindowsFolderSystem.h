#pragma once

#include "FolderSystem.h"

// Windows: the attributes are the system's own (hidden and system by their bits, not by a
// leading dot), kept to the bits the walk knows. A reparse point (junction, symbolic link,
// mount point) to a folder is neither a subfolder nor a file, so the walk never follows one.
// Names are UTF-16 as Windows keeps them; long paths take the "\\?\" form.
class WindowsFolderSystem : public FolderSystem {
public:
    QChar separator() const override { return QLatin1Char('\\'); }
    std::optional<int> attributes(const QString &path) const override;
    bool isRootFolder(const QString &path) const override;
    QStringList subFolderNames(const QString &folder) const override;
    QStringList fileNames(const QString &folder) const override;
    bool isOpenableFile(const QString &path) const override;
};
