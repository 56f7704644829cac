// The input list's commands.
#include "ListCommands.h"

#include "engine/core/CommandServices.h"
#include "engine/core/TimeSlice.h"
#include "engine/list/LineCutter.h"
#include "engine/list/ListFileReader.h"
#include "engine/list/NormalizePath.h"
#include "engine/platform/Dialogs.h"
#include "engine/platform/FileSystem.h"
#include "engine/store/TextListModel.h"

#include <QAbstractItemView>
#include <QFileInfo>
#include <QItemSelectionModel>
#include <QKeyEvent>
#include <QScopeGuard>

namespace {
const char ListFileFilter[] = "Text Files (*.txt)|*.txt|All Files (*.*)|*.*|";

// The lines of a typed or pasted text, cut as a list file's lines are: an item never holds
// a line break, or a saved list would not load back as the same items.
TextStore linesOf(const QString &text) {
    TextStore lines;
    LineCutter cutter([&](QByteArrayView line) { lines.appendBytes(line); });
    cutter.feed(TextStore::encode(text));
    cutter.finish();
    return lines;
}
} // namespace

ListCommands::ListCommands(CommandServices &services, Dialogs &dialogs, FileSystem &fileSystem,
                           TextListModel &list, QAbstractItemView *view, ProgressTarget &progress,
                           QObject *parent)
    : QObject(parent), services_(services), dialogs_(dialogs), fileSystem_(fileSystem),
      inputModel_(&list), ListView1(view), viewport_(view->viewport()), progressTarget_(&progress) {
    ListView1->installEventFilter(this);
    viewport_->installEventFilter(this);
}

bool ListCommands::eventFilter(QObject *watched, QEvent *event) {
    // The event's type first: the view sends events while it is being destroyed.
    const bool remove = (event->type() == QEvent::KeyPress && watched == ListView1 &&
                         static_cast<QKeyEvent *>(event)->key() == Qt::Key_Delete) ||
                        (event->type() == QEvent::MouseButtonDblClick && watched == viewport_);
    if (remove) {
        try {
            RemoveCurrentItem();
        } catch (...) {
            // Nothing may escape into the event loop; the list stays as it was.
        }
        return true;
    }
    return QObject::eventFilter(watched, event);
}

int ListCommands::currentItem() const {
    const QModelIndexList selected = ListView1->selectionModel()->selectedRows();
    return selected.isEmpty() ? 0 : selected.constFirst().row() + 1;
}

void ListCommands::PushButton1_Click() {
    services_.runCommand(ErrorLocation::PushButton1Click, [&](Trap &t) {
        QString result;
        t.step(100, [&] {
            result = dialogs_.inputBox(QStringLiteral("Enter item to add: "),
                                       services_.applicationTitle());
        });
        if (t.test(102, [&] { return result.isEmpty(); }))
            return;
        t.step(104, [&] { inputModel_->appendItems(linesOf(result)); });
    });
}

void ListCommands::PushButton7_Click() {
    services_.runCommand(ErrorLocation::PushButton7Click, [&](Trap &t) {
        t.step(100, [&] {
            if (!services_.busyPointer())
                inputModel_->clearItems();
        });
    });
}

// Delete key (whatever the shift state) or a double-click on the input list.
void ListCommands::RemoveCurrentItem() {
    if (services_.busyPointer() || inputModel_->itemCount() == 0)
        return;
    const int position = currentItem();
    if (position > 0)
        inputModel_->removeItem(position);
}

void ListCommands::PushButton2_Click() {
    services_.runCommand(ErrorLocation::PushButton2Click, [&](Trap &t) {
        static const char *const samples[] = {"red",    "orange", "Purple",
                                              "orange", "purple", "orange"};
        int step = 100;
        for (const char *sample : samples) {
            t.step(step, [&] { inputModel_->appendItem(QString::fromLatin1(sample)); });
            step += 2;
        }
    });
}

void ListCommands::PushButton5_Click() {
    services_.runCommand(ErrorLocation::PushButton5Click, [&](Trap &t) {
        QStringList parts;
        t.step(108, [&] {
            parts = dialogs_.openFiles(
                QStringLiteral("Load List(s) - Hold Ctrl to select multiple list files"),
                QString::fromLatin1(ListFileFilter));
        });
        if (parts.isEmpty())
            return;
        // The strip counts the bytes of all the chosen files. Made before the hourglass shows:
        // should memory run out here, nothing is left to end it.
        const auto progress = services_.beginProgress(*progressTarget_);
        for (const QString &part : std::as_const(parts))
            progress->total += QFileInfo(part).size();
        t.step(114, [&] { services_.showBusyPointer(); });
        auto read = [&](const QString &path) {
            progress->done = std::max(progress->base, progress->done); // the next file begins
            // Also past a file that failed part-way, so the next one does not count from behind.
            // Measured first: a guard must not allocate, which may fail.
            const qint64 size = QFileInfo(path).size();
            const auto next = qScopeGuard([&] { progress->base += size; });
            ReadListFile(*inputModel_, path, progress.get());
        };
        if (parts.size() == 1) {
            t.step(120, [&] { read(parts.constFirst()); });
        } else {
            for (const QString &part : std::as_const(parts)) {
                QString path;
                t.step(132, [&] { path = NormalizePath(part); });
                t.step(134, [&] { read(path); });
            }
        }
        t.step(138, [&] { services_.endBusyPointer(); });
    });
}

void ListCommands::ReadListFile(TextListModel &list, const QString &path, Progress *progress) {
    if (!fileSystem_.fileExists(path)) {
        services_.message(QStringLiteral("File not found"));
        return;
    }
    const auto claim = services_.claimListFile();
    const std::unique_ptr<QIODevice> file = fileSystem_.openForReading(path);
    // A pipe or a device may never end; the window reads files only.
    if (file->isSequential())
        throw Failure(QStringLiteral("Bad file mode"));
    TimeSlice slice(services_.closing(), progress);
    readListLines(
        *file, &slice, [&](const TextStore &lines) { list.appendItems(lines); },
        [&](qsizetype lines, qsizetype bytes) { list.reserveMore(lines, bytes); });
}
