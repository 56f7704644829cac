#pragma once

#include <QIODevice>
#include <QSaveFile>
#include <QString>

#include <memory>

// The file operations of the commands, so tests can put failing files in their way.
class FileSystem {
public:
    virtual ~FileSystem() = default;
    virtual bool fileExists(const QString &path) const;
    // Throws Failure when the file cannot be opened.
    virtual std::unique_ptr<QIODevice> openForReading(const QString &path);
    // Nothing reaches path until the returned file is committed. Throws Failure when the
    // file cannot be opened.
    virtual std::unique_ptr<QSaveFile> openForWriting(const QString &path);
};
