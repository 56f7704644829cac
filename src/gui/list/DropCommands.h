#pragma once

#include <QObject>
#include <QStringList>

#include <memory>

class CommandServices;
class FolderSystem;
class ProgressTarget;
class QAbstractItemView;
class QDragMoveEvent;
class QDropEvent;
class TextListModel;

// The input list as a drop target for files and folders from the file manager. Takes the
// list's drag events ahead of the view's own item dragging.
class DropCommands : public QObject {
    Q_OBJECT
public:
    DropCommands(CommandServices &services, TextListModel &list, QAbstractItemView *view,
                 ProgressTarget &progress, QObject *parent);
    ~DropCommands() override;

    // Where dropped folders are walked; the machine's own file system unless set.
    void setFolderSystem(FolderSystem &folders) { folderSystem_ = &folders; }

    void ListView1_OLEDragOver(QDragMoveEvent *event);
    void ListView1_OLEDragDrop(QDropEvent *event);
    // Walks the dropped paths into the list, giving the event loop its turns.
    void DropPaths(const QStringList &paths);

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    CommandServices &services_;
    TextListModel *inputModel_;
    QAbstractItemView *ListView1;
    ProgressTarget *progressTarget_;
    std::unique_ptr<FolderSystem> systemFolders_;
    FolderSystem *folderSystem_ = nullptr;
};
