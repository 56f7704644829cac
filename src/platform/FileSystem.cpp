#include "FileSystem.h"

#include "app/ErrorReport.h"
#include "app/Shared.h"

#include <QFile>

bool FileSystem::fileExists(const QString &path) const {
    return FileExists(path);
}

std::unique_ptr<QIODevice> FileSystem::openForReading(const QString &path) {
    auto file = std::make_unique<QFile>(path);
    if (!file->open(QIODevice::ReadOnly))
        throw Failure(file->errorString());
    return file;
}

std::unique_ptr<QSaveFile> FileSystem::openForWriting(const QString &path) {
    auto file = std::make_unique<QSaveFile>(path);
    if (!file->open(QIODevice::WriteOnly))
        throw Failure(file->errorString());
    return file;
}
