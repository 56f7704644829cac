#include "Skin.h"

#include <QApplication>
#include <QCheckBox>
#include <QGroupBox>
#include <QLabel>
#include <QRadioButton>
#include <QStyle>
#include <QWidget>

namespace {
void setBackground(QWidget &widget, const QColor &color) {
    QPalette palette = widget.palette();
    palette.setColor(QPalette::Window, color);
    widget.setPalette(palette);
    widget.setAutoFillBackground(true);
}

// Qt has no public parser for style sheets; it warns when it cannot parse one. So the sheet
// is tried on a scratch widget and the warning is listened for.
bool qtParsesStyleSheet(const QString &sheet) {
    static bool rejected;
    static QtMessageHandler previous;
    rejected = false;
    previous = qInstallMessageHandler(
        [](QtMsgType type, const QMessageLogContext &context, const QString &message) {
            if (type == QtWarningMsg && message.startsWith(QLatin1String("Could not parse")))
                rejected = true;
            else if (previous)
                previous(type, context, message);
        });
    {
        QWidget probe;
        probe.setStyleSheet(sheet);
        probe.ensurePolished();
    }
    qInstallMessageHandler(previous);
    return !rejected;
}
} // namespace

void applySkin(QWidget &window, const QString &appFolder, SkinEngine &engine) {
    const std::optional<QString> path = listedSkinFile(appFolder);
    if (!path)
        return;
    const QColor buttonFace = QApplication::style()->standardPalette().color(QPalette::Button);
    setBackground(window, buttonFace);
    // Option buttons, check boxes, frames and labels take the background too.
    for (QWidget *control : window.findChildren<QWidget *>(Qt::FindDirectChildrenOnly))
        if (qobject_cast<QRadioButton *>(control) || qobject_cast<QCheckBox *>(control) ||
            qobject_cast<QGroupBox *>(control) || qobject_cast<QLabel *>(control))
            setBackground(*control, buttonFace);
    engine.loadSkin(*path, QString());
    engine.setApplyOptions(engine.applyOptions() | SkinEngine::SkinWindows);
    engine.setAutoApplyNewWindows(true);
    engine.setAutoApplyNewThreads(true);
    engine.applyWindow(quintptr(window.winId()));
}

bool StyleSheetSkin::loadSkin(const QString &path, const QString &) {
    sheet_.clear();
    std::optional<QString> sheet = readStyleSheetFile(path);
    if (!sheet || !qtParsesStyleSheet(*sheet))
        return false;
    sheet_ = std::move(*sheet);
    return true;
}

void StyleSheetSkin::applyWindow(quintptr windowHandle) {
    QWidget *window = QWidget::find(WId(windowHandle));
    if (window && !sheet_.isEmpty() && (options_ & SkinWindows))
        window->setStyleSheet(sheet_);
}
