#pragma once

#include <QIODevice>
#include <QString>

#include <functional>
#include <memory>
#include <optional>

// A result file being written.
class OutputFile {
public:
    virtual ~OutputFile() = default;
    virtual QIODevice &device() = 0;
    // Makes what was written final. Throws Failure with the system's reason.
    virtual void commit() = 0;

    // Runs again and again while a write waits for a slow reader (a pipe nobody empties),
    // so the window keeps taking its turns; it may throw to give up.
    std::function<void()> whileWaiting;
};

// The file operations of the commands, so tests can put failing files in their way.
// Failures carry the system's own description ("Permission denied", ...).
class FileSystem {
public:
    virtual ~FileSystem() = default;
    virtual bool fileExists(const QString &path) const;
    // Only a regular file (or a link to one) is opened; anything else is refused with
    // "Bad file mode" before it is opened, so a pipe without a writer cannot block.
    virtual std::unique_ptr<QIODevice> openForReading(const QString &path);
    // A regular file, new or existing, is written aside and replaces the old one only on
    // commit, keeping its mode and owner; a file the user may not write is refused. A
    // character device or named pipe is written directly, never replaced; other kinds of
    // file are refused. Links are followed.
    virtual std::unique_ptr<OutputFile> openForWriting(const QString &path);
};

// Opens a regular file (or a link to one) for reading; anything else is refused with "Bad
// file mode" before it is opened, so nothing can block. Throws Failure with the system's
// reason.
std::unique_ptr<QIODevice> openRegularFile(const QString &path);

// The whole of a small support file: nothing when the path is not a regular file or holds
// more than maxBytes; throws Failure when it cannot be opened or read.
std::optional<QByteArray> readSmallFile(const QString &path, qint64 maxBytes);
