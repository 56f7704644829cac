#include "CursorFile.h"

#include "engine/core/ErrorReport.h"

#include "engine/platform/FileSystem.h"

#include <QImage>
#include <QPixmap>

namespace {
// Far more than any pointer image; a bigger file is not one.
constexpr qint64 MaxPictureBytes = 4 << 20;
} // namespace

QCursor loadCursorFile(const QString &path) {
    // A named pipe or a device would block the read or never end.
    const std::optional<QByteArray> read = readSmallFile(path, MaxPictureBytes);
    if (!read)
        throw Failure(QStringLiteral("Invalid picture"));
    const QByteArray &bytes = *read;
    QImage image;
    for (const char *format : {"cur", "ico"})
        if (image.loadFromData(bytes, format))
            break;
    if (image.isNull())
        image.loadFromData(bytes);
    if (image.isNull())
        throw Failure(QStringLiteral("Invalid picture"));
    int hotX = 0, hotY = 0;
    // ICONDIR (6 bytes), then the first entry; for a cursor, planes and bit count hold the
    // hot spot.
    if (bytes.size() >= 22 && bytes[2] == 2 && bytes[3] == 0) {
        hotX = uchar(bytes[10]) | uchar(bytes[11]) << 8;
        hotY = uchar(bytes[12]) | uchar(bytes[13]) << 8;
    } else if (bytes.size() >= 22 && bytes[2] == 1 && bytes[3] == 0) {
        hotX = hotY = -1; // an icon has no hot spot: Qt takes the centre
    }
    return QCursor(QPixmap::fromImage(image), hotX, hotY);
}
