#include "Shared.h"

#include <QDateTime>
#include <QFileInfo>

bool FileExists(const QString &path) {
    // Qt warns about and rejects embedded NULs itself; answer quietly instead.
    if (path.isEmpty() || path.contains(QChar(0)))
        return false;
    const QFileInfo info(path);
    return info.exists() && info.lastModified().isValid();
}

QString shortenApplicationTitle(QString name) {
    do {
        const qsizetype blank = name.lastIndexOf(QLatin1Char(' '));
        if (blank < 0)
            break;
        name.truncate(blank);
    } while (name.size() > 40);
    return name;
}

QString toDisplayLineBreaks(QString text) {
    text.replace(QLatin1String("\r\n"), QLatin1String("\n"));
    text.replace(QLatin1Char('\r'), QLatin1Char('\n'));
    return text;
}
