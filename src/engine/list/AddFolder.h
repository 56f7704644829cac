#pragma once

#include "engine/core/ErrorReport.h"
#include "engine/store/TextStore.h"

#include <QHash>
#include <QStringList>

#include <functional>
#include <optional>

class FolderSystem;
class TimeSlice;

// Turns the paths of a drop into items: a file gives its own path, a folder the paths of the
// files in and below it, leaving out hidden system folders, odd names, "~" files and the
// like.
class AddFolder {
public:
    // Folder paths, each ending with the separator.
    using FolderList = QStringList;
    using Sink = std::function<void(const TextStore &items)>;

    // Items go to sink in batches: loose files before the event loop gets a turn, a dropped
    // folder's items in one piece once it is listed, so nothing added meanwhile lands among
    // them. slice may be null (no turns). reporter shows the walk's error reports.
    AddFolder(const FolderSystem &files, TimeSlice *slice, Trap::Reporter reporter, Sink sink);

    // Every dropped path in order: a file as given, a folder after its walk.
    void DropPaths(const QStringList &paths);

    // Extends folders in place with everything below them, level by level.
    void GetSubDirectories2016(FolderList &folders, bool recurse);
    // The names of the folder's openable files, in listing order. Throws FolderFailure.
    QStringList GetFilesInFolder(QString folder);
    bool IsOpenableFile(const QString &path) const;
    bool IsFolder(const QString &path);
    static bool HasOddChars(QStringView name);

private:
    void addFolderItems(const QString &folder);
    // One level of the walk; returns how many of the given folders are left before the ones
    // found below them are appended.
    qsizetype walkLevel(FolderList &folders, bool recurse);
    // Looks into one folder of a level; throws FolderFailure when its listing fails.
    void examine(const QString &folder, FolderList &children);
    bool isHiddenSystemFolder(const QString &folder);
    // A folder's attributes, asked of the file system once per drop: every level tests the
    // folders of the levels below it again.
    std::optional<int> folderAttributes(const QString &folder);
    // Passes the items so far on and lets the event loop run, once a time slice is used.
    void turn();
    void flush();

    const FolderSystem &files_;
    TimeSlice *slice_;
    Trap::Reporter reporter_;
    Sink sink_;
    QChar separator_;
    int pathLimit_;
    TextStore pending_;
    bool holding_ = false; // while a dropped folder's items are gathered
    QHash<QString, std::optional<int>> attributes_;
    QHash<QString, bool> rootFolders_;
    // For the progress shown while a drop is walked.
    qsizetype foldersSeen_ = 0;
    qsizetype filesFound_ = 0;
};
