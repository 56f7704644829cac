#pragma once

#include <QObject>
#include <QString>

class CommandServices;
class Dialogs;
class FileSystem;
class Progress;
class ProgressTarget;
class QAbstractItemView;
class TextListModel;

// The input list's commands: Add, Clear, Delete and double-click, the samples and the load.
// Watches the list for the Delete key and double-clicks.
class ListCommands : public QObject {
    Q_OBJECT
public:
    ListCommands(CommandServices &services, Dialogs &dialogs, FileSystem &fileSystem,
                 TextListModel &list, QAbstractItemView *view, ProgressTarget &progress,
                 QObject *parent);

    // Position (from 1) of the input list's selected item, 0 when none is selected.
    int currentItem() const;
    // progress, where given, counts the file's bytes on top of its base.
    void ReadListFile(TextListModel &list, const QString &path, Progress *progress = nullptr);

public slots:
    void PushButton1_Click(); // Add One Item To List
    void PushButton2_Click(); // Load Sample/Example Files
    void PushButton5_Click(); // Load Data From File
    void PushButton7_Click(); // Clear List

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void RemoveCurrentItem();

    CommandServices &services_;
    Dialogs &dialogs_;
    FileSystem &fileSystem_;
    TextListModel *inputModel_;
    QAbstractItemView *ListView1;
    // Kept rather than asked for: the view sends events while it is being destroyed.
    QWidget *viewport_;
    ProgressTarget *progressTarget_;
};
