#include "SupportFiles.h"

#include <QDir>
#include <QFileInfo>
#include <QStandardPaths>

QStringList supportFolders(const QString &appFolder) {
    return {appFolder,
            QDir::cleanPath(QDir(appFolder).filePath(QStringLiteral(QUORVEL_DATA_FROM_BIN)))};
}

QStringList skinFolders(const QString &appFolder) {
    QStringList folders = supportFolders(appFolder);
    const QString config = QStandardPaths::writableLocation(QStandardPaths::AppConfigLocation);
    if (!config.isEmpty())
        folders.insert(1, config);
    return folders;
}

QString findSupportFile(const QStringList &folders, const QString &name) {
    for (const QString &folder : folders) {
        const QString path = QDir(folder).filePath(name);
        if (QFileInfo::exists(path))
            return path;
    }
    return QDir(folders.value(0)).filePath(name);
}
