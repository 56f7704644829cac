// Dropping files and folders from the file manager on the input list.
#include "app/Form1.h"

#include "AddFolder.h"
#include "app/TimeSlice.h"
#include "platform/FolderSystem.h"
#include "TextListModel.h"

#include <QDropEvent>
#include <QMimeData>
#include <QUrl>

namespace {
// A name whose bytes are not valid UTF-8 has no faithful text form here.
bool hasTextForm(const QUrl &url) {
    return QByteArray::fromPercentEncoding(url.path(QUrl::FullyEncoded).toLatin1()).isValidUtf8();
}

// The local files of a drag, in the file manager's order; remote URLs are not files here,
// and a path without a text form is left out rather than added garbled.
QStringList localFiles(const QMimeData *data) {
    QStringList paths;
    if (data && data->hasUrls())
        for (const QUrl &url : data->urls())
            if (url.isLocalFile() && hasTextForm(url))
                paths << url.toLocalFile();
    return paths;
}

// A drop only ever copies names: accepting a move would let the file manager delete the
// dropped files.
bool acceptWithoutMove(QDropEvent *event) {
    for (const Qt::DropAction action : {Qt::CopyAction, Qt::LinkAction})
        if (event->possibleActions() & action) {
            event->setDropAction(action);
            event->accept();
            return true;
        }
    event->ignore();
    return false;
}

// Gives the input list's drag events to the window ahead of the view's own item dragging.
class DropFilter : public QObject {
public:
    explicit DropFilter(Form1 &form) : QObject(&form), form_(form) {}

protected:
    bool eventFilter(QObject *, QEvent *event) override {
        switch (event->type()) {
        case QEvent::DragEnter:
        case QEvent::DragMove:
            form_.ListView1_OLEDragOver(static_cast<QDragMoveEvent *>(event));
            return true;
        case QEvent::DragLeave:
            return true;
        case QEvent::Drop:
            form_.ListView1_OLEDragDrop(static_cast<QDropEvent *>(event));
            return true;
        default:
            return false;
        }
    }

private:
    Form1 &form_;
};
} // namespace

void Form1::setUpDropTarget() {
    systemFolders_ = makeSystemFolderSystem();
    folderSystem_ = systemFolders_.get();
    auto *filter = new DropFilter(*this);
    ListView1->viewport()->setAcceptDrops(true);
    ListView1->viewport()->installEventFilter(filter);
    // The header and the scroll bars take no drops of their own: theirs come up to the list.
    ListView1->setAcceptDrops(true);
    ListView1->installEventFilter(filter);
}

void Form1::ListView1_OLEDragOver(QDragMoveEvent *event) {
    if (localFiles(event->mimeData()).isEmpty())
        event->ignore(); // the no-drop pointer
    else
        acceptWithoutMove(event);
}

void Form1::ListView1_OLEDragDrop(QDropEvent *event) {
    const QStringList paths = localFiles(event->mimeData());
    if (paths.isEmpty() || !acceptWithoutMove(event)) {
        event->ignore();
        return;
    }
    // The walk runs once the drop has returned, so the file manager is not kept waiting.
    QMetaObject::invokeMethod(
        this, [this, paths] { DropPaths(paths); }, Qt::QueuedConnection);
}

// No hourglass: the list may be cleared or edited while a large folder is walked.
void Form1::DropPaths(const QStringList &paths) {
    try {
        const auto progress = progress_.begin(*ListView1Progress); // no total: a moving strip
        TimeSlice slice(closing_, progress.get());
        AddFolder walk(
            *folderSystem_, &slice, [this](const QString &text) { showErrorReport(text); },
            [this](const TextStore &items) { inputModel_->appendItems(items); });
        walk.DropPaths(paths);
    } catch (const Aborted &) {
        // The window closed during the walk.
    } catch (const std::exception &e) {
        message(describeFailure(e));
    }
}
