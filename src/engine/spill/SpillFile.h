#pragma once

#include "engine/core/ErrorReport.h"

#include <QByteArrayView>
#include <QString>

#include <cstdint>

// A failure of the temporary folder (full, unwritable, vanished), told apart from failures
// of the input and the output.
class TemporaryFailure : public Failure {
public:
    using Failure::Failure;
};

// A file in a temporary folder that has no name from the start (or loses it at once), so
// nothing is left behind however the program ends, a kill included. Throws TemporaryFailure
// with the system's reason.
class TemporaryFile {
public:
    explicit TemporaryFile(const QString &folder);
    ~TemporaryFile();
    TemporaryFile(const TemporaryFile &) = delete;
    TemporaryFile &operator=(const TemporaryFile &) = delete;

    std::uint64_t size() const { return size_; }
    void append(QByteArrayView bytes);
    // Reads up to size bytes at offset; fewer only at the end of the file.
    std::size_t readAt(std::uint64_t offset, char *data, std::size_t size) const;

private:
#ifdef _WIN32
    void *file_ = nullptr; // a HANDLE, deleted by the system once closed
#else
    int fd_ = -1;
#endif
    std::uint64_t size_ = 0;
};

// $TMPDIR, or /tmp; on Windows %TEMP% (the system's temporary folder).
QString defaultTemporaryFolder();
