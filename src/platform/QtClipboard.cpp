#include "QtClipboard.h"

#include <QClipboard>
#include <QGuiApplication>
#include <QMimeData>

namespace {
// Hands out the bytes it was given, so a paste that the event loop serves for another
// program allocates nothing that could fail there: QMimeData would encode its text anew for
// every request, and a failure inside the event loop would end the program.
class EncodedText : public QMimeData {
public:
    EncodedText(QStringList formats, QByteArray bytes)
        : formats_(std::move(formats)), bytes_(std::move(bytes)) {}

    QStringList formats() const override { return formats_; }
    bool hasFormat(const QString &format) const override { return formats_.contains(format); }

protected:
    QVariant retrieveData(const QString &format, QMetaType type) const override {
        if (!hasFormat(format))
            return {};
        if (type.id() != QMetaType::QString)
            return bytes_;
        try {
            return QString::fromUtf8(bytes_); // a paste in this window
        } catch (...) {
            return {}; // out of memory: the paste gets nothing
        }
    }

private:
    QStringList formats_;
    QByteArray bytes_;
};
} // namespace

bool QtClipboard::clear() {
    QClipboard *clipboard = QGuiApplication::clipboard();
    if (!clipboard)
        return false;
    clipboard->clear();
    return true;
}

bool QtClipboard::setText(const QByteArray &utf8) {
    QClipboard *clipboard = QGuiApplication::clipboard();
    if (!clipboard)
        return false;
    const QStringList formats{QStringLiteral("text/plain"),
                              QStringLiteral("text/plain;charset=utf-8")};
    clipboard->setMimeData(new EncodedText(formats, utf8));
    return true;
}
