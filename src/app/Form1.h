#pragma once

#include "app/ErrorReport.h"
#include "ui/MousePointer.h"
#include "ui/ProgressTracker.h"

#include <QPushButton>
#include <QTableView>
#include <QWidget>

#include <memory>
#include <optional>

class Clipboard;
class Dialogs;
class FileSystem;
class SkinEngine;
class FolderSystem;
class ProgressStrip;
class QDragMoveEvent;
class QDropEvent;
class TextListModel;
class TimeSlice;

// The main window. Every command is one of its slots and runs on the user-interface thread;
// long commands give the event loop turns, so other commands may run in the middle of them.
class Form1 : public QWidget, public PointerOwner {
    Q_OBJECT
public:
    // appFolder is the executable's folder, where the search for the optional support files
    // begins (see supportFolders). Without a skin engine the window uses its own, which reads
    // the skin file as a style sheet.
    Form1(Dialogs &dialogs, Clipboard &clipboard, FileSystem &fileSystem, QString appFolder,
          QWidget *parent = nullptr, SkinEngine *skinEngine = nullptr);
    ~Form1() override;

    TextListModel &inputList() const { return *inputModel_; }
    TextListModel &resultsList() const { return *resultsModel_; }
    QTableView *listView1() const { return ListView1; }
    QTableView *listView2() const { return ListView2; }
    // How far a long command on each list has come.
    ProgressStrip *listView1Progress() const { return ListView1Progress; }
    ProgressStrip *listView2Progress() const { return ListView2Progress; }

    int mousePointer() const override { return mousePointer_; }
    void setMousePointer(int value) override;
    // The hourglass of a load, search or save.
    bool busyPointer() const { return mousePointer_ == PointerHourglass; }
    // Long commands may run inside one another's event-loop turns; the hourglass stays until
    // the last of them ends.
    void showBusyPointer();
    void endBusyPointer();
    bool hasCustomPointer() const { return customPointer_.has_value(); }
    bool busyFlag() const { return busyFlag_; }
    const QString &applicationTitle() const { return applicationTitle_; }

    // Position (from 1) of the input list's selected item, 0 when none is selected.
    int currentItem() const;

    // Where dropped folders are walked; the machine's own file system unless set.
    void setFolderSystem(FolderSystem &folders) { folderSystem_ = &folders; }
    // Dropping files and folders on the input list.
    void ListView1_OLEDragOver(QDragMoveEvent *event);
    void ListView1_OLEDragDrop(QDropEvent *event);

public slots:
    void PushButton1_Click();  // Add One Item To List
    void PushButton2_Click();  // Load Sample/Example Files
    void PushButton4_Click();  // Start Finding
    void PushButton5_Click();  // Load Data From File
    void PushButton6_Click();  // Save Results As Text File
    void PushButton7_Click();  // Clear List
    void PushButton9_Click();  // Clear Results
    void PushButton10_Click(); // Copy Results To Clipboard
    void PushButton11_Click(); // Help
    void PushButton12_Click(); // Save Results With Comma

protected:
    void closeEvent(QCloseEvent *event) override;
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void createControls();
    void Form_Load();
    void ApplySkin();
    void SetApplicationTitle();

    // Runs a command body under an error trap; a closing window unwinds it quietly.
    template <class Body> void runCommand(const char *location, Body &&body);
    void showErrorReport(const QString &text);
    // An informational box: OK, no icon, the ApplicationTitle.
    void message(const QString &text);

    void RemoveCurrentItem();
    // Claims the one file handle for as long as the returned guard lives; throws Failure
    // while another command holds it.
    std::shared_ptr<void> claimListFile();
    // progress, where given, counts the file's bytes on top of its base.
    void ReadListFile(TextListModel &list, const QString &path, Progress *progress = nullptr);
    void saveResults(const char *location, bool comma);
    void CopyListToClipboard(TextListModel &list);
    void setUpDropTarget();
    void DropPaths(const QStringList &paths);

    Dialogs &dialogs_;
    Clipboard &clipboard_;
    FileSystem &fileSystem_;
    QString appFolder_;
    std::unique_ptr<SkinEngine> ownSkinEngine_;
    SkinEngine *skinEngine_;
    std::unique_ptr<FolderSystem> systemFolders_;
    FolderSystem *folderSystem_ = nullptr;

    QString applicationTitle_;
    int mousePointer_ = PointerDefault;
    std::optional<QCursor> customPointer_;
    bool busyFlag_ = false;
    bool closing_ = false; // set when the window closes; long commands then unwind
    int busyCommands_ = 0;
    // One list or result file is open at a time, so the lines of two files never interleave.
    bool listFileOpen_ = false;

    ProgressTracker progress_;
    TextListModel *inputModel_ = nullptr;
    TextListModel *resultsModel_ = nullptr;
    QTableView *ListView1 = nullptr;
    QTableView *ListView2 = nullptr;
    ProgressStrip *ListView1Progress = nullptr;
    ProgressStrip *ListView2Progress = nullptr;
    QPushButton *PushButton1 = nullptr;
    QPushButton *PushButton2 = nullptr;
    QPushButton *PushButton4 = nullptr;
    QPushButton *PushButton5 = nullptr;
    QPushButton *PushButton6 = nullptr;
    QPushButton *PushButton7 = nullptr;
    QPushButton *PushButton9 = nullptr;
    QPushButton *PushButton10 = nullptr;
    QPushButton *PushButton11 = nullptr;
    QPushButton *PushButton12 = nullptr;
};

template <class Body> void Form1::runCommand(const char *location, Body &&body) {
    Trap trap(QString::fromLatin1(location),
              [this](const QString &text) { showErrorReport(text); });
    try {
        body(trap);
    } catch (const Aborted &) {
        // The window closed while the command was running.
    } catch (const std::exception &e) {
        trap.report(0, describeFailure(e));
    }
}
