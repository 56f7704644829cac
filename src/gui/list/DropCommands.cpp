// Dropping files and folders from the file manager on the input list.
#include "DropCommands.h"

#include "engine/core/CommandServices.h"
#include "engine/core/TimeSlice.h"
#include "engine/list/AddFolder.h"
#include "engine/platform/FolderSystem.h"
#include "engine/store/TextListModel.h"

#include <QAbstractItemView>
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

} // namespace

DropCommands::DropCommands(CommandServices &services, TextListModel &list, QAbstractItemView *view,
                           ProgressStrip &progress, QObject *parent)
    : QObject(parent), services_(services), inputModel_(&list), ListView1(view),
      progressStrip_(&progress) {
    systemFolders_ = makeSystemFolderSystem();
    folderSystem_ = systemFolders_.get();
    ListView1->viewport()->setAcceptDrops(true);
    ListView1->viewport()->installEventFilter(this);
    // The header and the scroll bars take no drops of their own: theirs come up to the list.
    ListView1->setAcceptDrops(true);
    ListView1->installEventFilter(this);
}

DropCommands::~DropCommands() = default;

bool DropCommands::eventFilter(QObject *, QEvent *event) {
    switch (event->type()) {
    case QEvent::DragEnter:
    case QEvent::DragMove:
        ListView1_OLEDragOver(static_cast<QDragMoveEvent *>(event));
        return true;
    case QEvent::DragLeave:
        return true;
    case QEvent::Drop:
        ListView1_OLEDragDrop(static_cast<QDropEvent *>(event));
        return true;
    default:
        return false;
    }
}

void DropCommands::ListView1_OLEDragOver(QDragMoveEvent *event) {
    if (localFiles(event->mimeData()).isEmpty())
        event->ignore(); // the no-drop pointer
    else
        acceptWithoutMove(event);
}

void DropCommands::ListView1_OLEDragDrop(QDropEvent *event) {
    const QStringList paths = localFiles(event->mimeData());
    if (paths.isEmpty() || !acceptWithoutMove(event)) {
        event->ignore();
        return;
    }
    // The walk runs once the drop has returned, so the file manager is not kept waiting.
    QMetaObject::invokeMethod(
        this, [this, paths] { DropPaths(paths); }, Qt::QueuedConnection);
}

// No hourglass: the list may be cleared or edited while a large folder is walked. A failure
// (such as a folder's items refused for lack of memory) ends the drop there: what came before
// stays, the paths after it are not added.
void DropCommands::DropPaths(const QStringList &paths) {
    services_.runCommand(ErrorLocation::ListView1OLEDragDrop, [&](Trap &t) {
        t.step(100, [&] {
            const auto progress = services_.beginProgress(*progressStrip_); // a moving strip
            TimeSlice slice(services_.closing(), progress.get());
            AddFolder walk(
                *folderSystem_, &slice,
                [this](const QString &text) { services_.showErrorReport(text); },
                [this](const TextStore &items) { inputModel_->appendItems(items); });
            walk.DropPaths(paths);
        });
    });
}
