#include "QtDialogs.h"

#include "app/Shared.h"

#include <QFileDialog>
#include <QFileInfo>
#include <QInputDialog>
#include <QMessageBox>

namespace {
// "Text Files (*.txt)|*.txt|All Files (*.*)|*.*|" -> name filters showing the labels as
// written. "*.*" means every file, with or without a dot in its name.
QStringList nameFilters(const QString &filter) {
    const QStringList parts = filter.split(QLatin1Char('|'));
    QStringList result;
    for (qsizetype i = 0; i + 1 < parts.size(); i += 2) {
        QString patterns = parts[i + 1];
        patterns.replace(QLatin1Char(';'), QLatin1Char(' '));
        if (patterns == QLatin1String("*.*"))
            patterns = QStringLiteral("*");
        const QString &label = parts[i];
        // Qt matches the patterns in the label's last parentheses.
        if (label.endsWith(QLatin1Char('(') + patterns + QLatin1Char(')')))
            result << label;
        else
            result << label + QStringLiteral(" (") + patterns + QLatin1Char(')');
    }
    return result;
}

void prepare(QFileDialog &dialog, const QString &title, const QString &filter) {
    dialog.setWindowTitle(title);
    // The labels already show their patterns; hide any added for matching.
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
    const int answer = box.exec();
    if (buttons == Buttons::Ok)
        return Answer::Ok;
    return answer == QMessageBox::Yes ? Answer::Yes : Answer::No;
}

QString QtDialogs::inputBox(const QString &prompt, const QString &title) {
    bool ok = false;
    const QString text =
        QInputDialog::getText(parent_, title, prompt, QLineEdit::Normal, QString(), &ok);
    return ok ? text : QString();
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
