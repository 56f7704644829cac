#include "SkinEngine.h"

#include "engine/core/ErrorReport.h"
#include "FileSystem.h"
#include "SupportFiles.h"

#include <QFileInfo>
#include <QStringDecoder>

namespace {
// A style sheet for one window is a few kilobytes.
constexpr qint64 MaxStyleSheetBytes = 1 << 20;
} // namespace

std::optional<QString> listedSkinFile(const QString &appFolder) {
    const QString path = findSupportFile(skinFolders(appFolder), QStringLiteral("x/o.cjs"));
    // isFile() holds for regular files only (and links to them).
    const QFileInfo info(path);
    if (!info.isFile() || info.isHidden())
        return std::nullopt;
    return path;
}

std::optional<QString> readStyleSheetFile(const QString &path) {
    std::optional<QByteArray> bytes;
    try {
        bytes = readSmallFile(path, MaxStyleSheetBytes);
    } catch (const Failure &) {
        return std::nullopt; // unreadable: no skin, without a message
    }
    if (!bytes)
        return std::nullopt;
    QStringDecoder decoder(QStringDecoder::Utf8);
    QString sheet = decoder.decode(*bytes);
    if (decoder.hasError())
        return std::nullopt;
    return sheet;
}
