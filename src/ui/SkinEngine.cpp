#include "SkinEngine.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStringDecoder>

namespace {
// A style sheet for one window is a few kilobytes.
constexpr qint64 MaxStyleSheetBytes = 1 << 20;
} // namespace

std::optional<QString> listedSkinFile(const QString &appFolder) {
    const QString path = QDir(appFolder).filePath(QStringLiteral("x/o.cjs"));
    // isFile() holds for regular files only (and links to them).
    const QFileInfo info(path);
    if (!info.isFile() || info.isHidden())
        return std::nullopt;
    return path;
}

std::optional<QString> readStyleSheetFile(const QString &path) {
    const QFileInfo info(path);
    if (!info.isFile() || info.size() > MaxStyleSheetBytes)
        return std::nullopt;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return std::nullopt;
    const QByteArray bytes = file.read(MaxStyleSheetBytes + 1);
    if (bytes.size() > MaxStyleSheetBytes || file.error() != QFileDevice::NoError)
        return std::nullopt;
    QStringDecoder decoder(QStringDecoder::Utf8);
    QString sheet = decoder.decode(bytes);
    if (decoder.hasError())
        return std::nullopt;
    return sheet;
}
