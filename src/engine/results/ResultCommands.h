#pragma once

#include <QObject>

class Clipboard;
class CommandServices;
class Dialogs;
class FileSystem;
class ProgressTarget;
class TextListModel;

// The results list's commands: both saves, the copy and Clear Results.
class ResultCommands : public QObject {
    Q_OBJECT
public:
    ResultCommands(CommandServices &services, Dialogs &dialogs, Clipboard &clipboard,
                   FileSystem &fileSystem, TextListModel &results, ProgressTarget &progress,
                   QObject *parent);

    // location labels the error report; comma picks the one-line, comma-separated form.
    void saveResults(const char *location, bool comma);
    void CopyListToClipboard(TextListModel &list);

public slots:
    void PushButton6_Click();  // Save Results As Text File
    void PushButton9_Click();  // Clear Results
    void PushButton10_Click(); // Copy Results To Clipboard
    void PushButton12_Click(); // Save Results With Comma

private:
    CommandServices &services_;
    Dialogs &dialogs_;
    Clipboard &clipboard_;
    FileSystem &fileSystem_;
    TextListModel *resultsModel_;
    ProgressTarget *progressTarget_;
};
