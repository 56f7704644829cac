#include "QtDialogs.h"

#include "engine/core/Shared.h"
#include "LongLineEdit.h"

#include <QDialogButtonBox>
#include <QFileDialog>
#include <QFileInfo>
#include <QLabel>
#include <QMessageBox>
#include <QScreen>
#include <QVBoxLayout>

namespace {
// "Text Files (*.txt)|*.txt|All Files (*.*)|*.*|" -> name filters that show each label as
// written. Qt matches the patterns in a filter's last parentheses and, with the details
// hidden, shows what stands before them, so every label gets its patterns appended for
// matching. "*.*" means every file, with or without a dot in its name.
QStringList nameFilters(const QString &filter) {
    const QStringList parts = filter.split(QLatin1Char('|'));
    QStringList result;
    for (qsizetype i = 0; i + 1 < parts.size(); i += 2) {
        QString patterns = parts[i + 1];
        patterns.replace(QLatin1Char(';'), QLatin1Char(' '));
        if (patterns == QLatin1String("*.*"))
            patterns = QStringLiteral("*");
        result << parts[i] + QStringLiteral(" (") + patterns + QLatin1Char(')');
    }
    return result;
}

// The box wraps a line wider than about 500 pixels; a line that fits on the screen is kept
// whole instead, so an address is never broken in two.
void keepLinesWhole(QMessageBox &box) {
    auto *label = box.findChild<QLabel *>(QStringLiteral("qt_msgbox_label"));
    if (!label)
        return;
    const QScreen *screen = box.screen();
    const int room = qMin(700, screen ? screen->availableGeometry().width() * 3 / 4 : 700);
    const QFontMetrics metrics(label->font());
    int widest = 0;
    for (const QString &line : label->text().split(QLatin1Char('\n')))
        widest = qMax(widest, metrics.horizontalAdvance(line));
    if (widest <= room)
        label->setMinimumWidth(widest + metrics.averageCharWidth());
}

void prepare(QFileDialog &dialog, const QString &title, const QString &filter) {
    dialog.setWindowTitle(title);
    // Hides the patterns added for matching, not the ones the labels show.
    dialog.setOption(QFileDialog::HideNameFilterDetails);
    dialog.setNameFilters(nameFilters(filter));
}
} // namespace

Dialogs::Answer QtDialogs::messageBox(const QString &text, const QString &title, Buttons buttons,
                                      Icon icon) {
    QMessageBox box(
        icon == Icon::Warning ? QMessageBox::Warning : QMessageBox::NoIcon, title,
        toDisplayLineBreaks(text),
        buttons == Buttons::YesNo ? QMessageBox::Yes | QMessageBox::No : QMessageBox::Ok, parent_);
    box.setTextFormat(Qt::PlainText);
    keepLinesWhole(box);
    const int answer = box.exec();
    if (buttons == Buttons::Ok)
        return Answer::Ok;
    return answer == QMessageBox::Yes ? Answer::Yes : Answer::No;
}

// QInputDialog's layout, with an entry that stays quick with a pasted text of any length.
QString QtDialogs::inputBox(const QString &prompt, const QString &title) {
    QDialog dialog(parent_);
    dialog.setWindowTitle(title);
    auto *label = new QLabel(prompt, &dialog);
    auto *entry = new LongLineEdit(&dialog);
    label->setBuddy(entry);
    auto *buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, &dialog);
    QObject::connect(buttons, &QDialogButtonBox::accepted, &dialog, &QDialog::accept);
    QObject::connect(buttons, &QDialogButtonBox::rejected, &dialog, &QDialog::reject);
    auto *layout = new QVBoxLayout(&dialog);
    layout->setSizeConstraint(QLayout::SetMinAndMaxSize);
    layout->addWidget(label);
    layout->addWidget(entry);
    layout->addWidget(buttons);
    entry->setFocus();
    return dialog.exec() == QDialog::Accepted ? entry->entry() : QString();
}

QStringList QtDialogs::openFiles(const QString &title, const QString &filter) {
    QFileDialog dialog(parent_);
    prepare(dialog, title, filter);
    dialog.setFileMode(QFileDialog::ExistingFiles);
    dialog.setAcceptMode(QFileDialog::AcceptOpen);
    if (!lastFolder_.isEmpty())
        dialog.setDirectory(lastFolder_);
    if (dialog.exec() != QDialog::Accepted)
        return {};
    lastFolder_ = dialog.directory().absolutePath();
    return dialog.selectedFiles();
}

QString QtDialogs::saveFile(const QString &title, const QString &filter) {
    QFileDialog dialog(parent_);
    prepare(dialog, title, filter);
    dialog.setFileMode(QFileDialog::AnyFile);
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    // The command asks its own overwrite question.
    dialog.setOption(QFileDialog::DontConfirmOverwrite);
    if (!lastFolder_.isEmpty())
        dialog.setDirectory(lastFolder_);
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return {};
    lastFolder_ = dialog.directory().absolutePath();
    return dialog.selectedFiles().constFirst();
}
