#pragma once

#include "engine/platform/Dialogs.h"

#include <QPointer>
#include <QWidget>

// The real dialogs: QMessageBox, an input box like QInputDialog's and QFileDialog.
class QtDialogs : public Dialogs {
public:
    void setParent(QWidget *parent) { parent_ = parent; }

    Answer messageBox(const QString &text, const QString &title, Buttons buttons,
                      Icon icon) override;
    QString inputBox(const QString &prompt, const QString &title) override;
    QStringList openFiles(const QString &title, const QString &filter) override;
    QString saveFile(const QString &title, const QString &filter) override;

private:
    QPointer<QWidget> parent_;
    QString lastFolder_; // the dialog remembers where the user was, like the system's one
};
