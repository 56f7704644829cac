#pragma once

#include "engine/core/CommandServices.h"
#include "gui/views/MousePointer.h"
#include "gui/views/ProgressTracker.h"

#include <QRect>
#include <QWidget>

#include <memory>
#include <optional>

class Clipboard;
class Dialogs;
class DropCommands;
class FileSystem;
class FindCommand;
class FolderSystem;
class ListCommands;
class ProgressStrip;
class ResultCommands;
class SkinEngine;
class ReportView;
class TextListModel;

// The main window: the controls, their layout and the wiring to each subsystem's command
// object, and the services those commands share. Every command runs on the user-interface
// thread; long commands give the event loop turns, so other commands may run in the middle
// of them.
class Form1 : public QWidget, public PointerOwner, public CommandServices {
    Q_OBJECT
public:
    // One control of the window: its name, its caption (a button's text, a list's column
    // title), its place in twips (15 to the pixel) and, for a button, its command.
    struct Control {
        const char *name;
        const char *caption;
        QRect twips;
        void (Form1::*click)();
    };
    // The window's client area in twips, and its controls in tab order.
    static constexpr QSize SizeTwips{8040, 8445};
    static const Control Controls[12];

    // appFolder is the executable's folder, where the search for the optional support files
    // begins (see supportFolders). Without a skin engine the window uses its own, which reads
    // the skin file as a style sheet.
    Form1(Dialogs &dialogs, Clipboard &clipboard, FileSystem &fileSystem, QString appFolder,
          QWidget *parent = nullptr, SkinEngine *skinEngine = nullptr);
    ~Form1() override;

    TextListModel &inputList() const { return *inputModel_; }
    TextListModel &resultsList() const { return *resultsModel_; }
    ReportView *listView1() const { return ListView1; }
    ReportView *listView2() const { return ListView2; }
    // How far a long command on the input list has come.
    ProgressStrip *listView1Progress() const { return listView1Progress_; }

    int mousePointer() const override { return mousePointer_; }
    void setMousePointer(int value) override;
    bool busyPointer() const override { return mousePointer_ == PointerHourglass; }
    void showBusyPointer() override;
    void endBusyPointer() override;
    bool hasCustomPointer() const { return customPointer_.has_value(); }
    bool busyFlag() const;
    const QString &applicationTitle() const override { return applicationTitle_; }

    // Position (from 1) of the input list's selected item, 0 when none is selected.
    int currentItem() const;

    // Where dropped folders are walked; the machine's own file system unless set.
    void setFolderSystem(FolderSystem &folders);

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

private:
    void createControls();
    void Form_Load();
    void ApplySkin();
    void SetApplicationTitle();

    void showErrorReport(const QString &text) override;
    void message(const QString &text) override;
    std::unique_ptr<Progress> beginProgress(ProgressTarget &target) override;

    Dialogs &dialogs_;
    Clipboard &clipboard_;
    FileSystem &fileSystem_;
    QString appFolder_;
    std::unique_ptr<SkinEngine> ownSkinEngine_;
    SkinEngine *skinEngine_;

    QString applicationTitle_;
    int mousePointer_ = PointerDefault;
    std::optional<QCursor> customPointer_;
    int busyCommands_ = 0;

    ProgressTracker progress_;
    TextListModel *inputModel_ = nullptr;
    TextListModel *resultsModel_ = nullptr;
    ReportView *ListView1 = nullptr;
    ReportView *ListView2 = nullptr;
    ProgressStrip *listView1Progress_ = nullptr;
    ProgressStrip *listView2Progress_ = nullptr;

    ListCommands *listCommands_ = nullptr;
    DropCommands *dropCommands_ = nullptr;
    FindCommand *findCommand_ = nullptr;
    ResultCommands *resultCommands_ = nullptr;
};
