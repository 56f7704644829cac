#include "QtClipboard.h"

#include <QClipboard>
#include <QGuiApplication>
#include <QMimeData>

bool QtClipboard::clear() {
    QClipboard *clipboard = QGuiApplication::clipboard();
    if (!clipboard)
        return false;
    clipboard->clear();
    return true;
}

bool QtClipboard::setText(const QString &text, int format) {
    QClipboard *clipboard = QGuiApplication::clipboard();
    if (!clipboard)
        return false;
    if (format == 0) {
        clipboard->setText(text);
    } else {
        auto *data = new QMimeData;
        data->setData(QStringLiteral("application/x-clipboard-format-%1").arg(format),
                      text.toUtf8());
        clipboard->setMimeData(data);
    }
    return true;
}
