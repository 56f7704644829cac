#pragma once

#include "engine/platform/FolderSystem.h"

#include <map>

// A tree of folders and files held in memory, with any attribute values and failures, for
// tests and fuzzing. A top-level folder ("/" or a drive such as "C:") is a root folder.
// Paths are compared exactly; doubled and trailing separators are ignored.
class MemoryFolderSystem : public FolderSystem {
public:
    explicit MemoryFolderSystem(QChar separator = QLatin1Char('/')) : separator_(separator) {}

    // Folders above the path that do not exist yet are added as plain folders.
    void addFolder(const QString &path, int attributes = Directory);
    void addFile(const QString &path, int attributes = Archive, bool openable = true);
    // Listing the folder's subfolders fails from now on with this error number.
    void failListing(const QString &folder, int code);

    QChar separator() const override { return separator_; }
    std::optional<int> attributes(const QString &path) const override;
    bool isRootFolder(const QString &path) const override;
    QStringList subFolderNames(const QString &folder) const override;
    QStringList fileNames(const QString &folder) const override;
    bool isOpenableFile(const QString &path) const override;

private:
    struct Node {
        int attributes = Directory;
        bool openable = true;
        int listingError = -1;
        QStringList folders;
        QStringList files;
    };
    QString key(const QString &path) const;
    void add(const QString &path, const Node &node);
    const Node &folder(const QString &path) const;

    QChar separator_;
    std::map<QString, Node> nodes_;
};
