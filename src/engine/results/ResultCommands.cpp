// Saving, clearing and copying the results.
#include "ResultCommands.h"

#include "ClipboardLayout.h"
#include "engine/core/CommandServices.h"
#include "engine/core/TimeSlice.h"
#include "engine/platform/Clipboard.h"
#include "engine/platform/Dialogs.h"
#include "engine/platform/FileSystem.h"
#include "engine/store/TextListModel.h"
#include "ResultWriter.h"

#include <QScopeGuard>

namespace {
const char SaveFilter[] = "Text Files (*.txt)|*.txt|All Files (*.*)|*.*|";
} // namespace

ResultCommands::ResultCommands(CommandServices &services, Dialogs &dialogs, Clipboard &clipboard,
                               FileSystem &fileSystem, TextListModel &results,
                               ProgressTarget &progress, QObject *parent)
    : QObject(parent), services_(services), dialogs_(dialogs), clipboard_(clipboard),
      fileSystem_(fileSystem), resultsModel_(&results), progressTarget_(&progress) {}

void ResultCommands::PushButton6_Click() {
    saveResults(ErrorLocation::PushButton6Click, false);
}

void ResultCommands::PushButton12_Click() {
    saveResults(ErrorLocation::PushButton12Click, true);
}

void ResultCommands::saveResults(const char *location, bool comma) {
    services_.runCommand(location, [&](Trap &t) {
        QString path;
        t.step(108, [&] {
            path = dialogs_.saveFile(QStringLiteral("Save"), QString::fromLatin1(SaveFilter));
        });
        if (path.isEmpty())
            return;
        bool confirmed = true;
        t.step(112, [&] {
            if (fileSystem_.fileExists(path))
                confirmed =
                    dialogs_.messageBox(QStringLiteral("Are you sure you wish to overwrite ") +
                                            path + QStringLiteral(" ?"),
                                        services_.applicationTitle(), Dialogs::Buttons::YesNo,
                                        Dialogs::Icon::None) == Dialogs::Answer::Yes;
        });
        if (!confirmed)
            return;
        // A regular file is replaced only once the new one is complete; the first failure
        // ends the save, leaving any previous file as it was.
        std::shared_ptr<void> claim;
        std::unique_ptr<OutputFile> file;
        TextStore rows; // allocates: before the hourglass, which nothing would end otherwise
        t.step(114, [&] { services_.showBusyPointer(); });
        const bool written = t.step(116, [&] {
            claim = services_.claimListFile();
            file = fileSystem_.openForWriting(path);
        }) && t.step(118, [&] {
            rows = resultsModel_->store();
        }) && t.step(120, [&] {
            const auto progress = services_.beginProgress(*progressTarget_);
            progress->total = rows.size();
            TimeSlice slice(services_.closing(), progress.get());
            file->whileWaiting = [&] {
                if (slice.due())
                    slice.yield();
            };
            const auto stopWaiting = qScopeGuard([&] { file->whileWaiting = nullptr; });
            writeResults(file->device(), rows,
                         comma ? ResultFormat::Comma : ResultFormat::OnePerLine, &slice);
        });
        if (written)
            t.step(124, [&] { file->commit(); });
        file.reset(); // an uncommitted file is discarded here
        claim.reset();
        t.step(126, [&] { services_.endBusyPointer(); });
    });
}

void ResultCommands::PushButton9_Click() {
    services_.runCommand(ErrorLocation::PushButton9Click,
                         [&](Trap &t) { t.step(100, [&] { resultsModel_->clearItems(); }); });
}

void ResultCommands::PushButton10_Click() {
    services_.runCommand(ErrorLocation::PushButton10Click, [&](Trap &t) {
        // A copy refused for lack of memory has said so; the clipboard holds what it held.
        if (!t.step(100, [&] { CopyListToClipboard(*resultsModel_); }))
            return;
        t.step(102, [&] {
            services_.message(
                QStringLiteral("Results have been copied to the clipboard.\r\rClick a text "
                               "area where you normally type and press Ctrl+V to paste the "
                               "clipboard."));
        });
    });
}

void ResultCommands::CopyListToClipboard(TextListModel &list) {
    if (list.itemCount() == 0)
        return;
    const TextStore texts = list.store();
    const auto progress = services_.beginProgress(*progressTarget_);
    progress->total = 2 * texts.size();
    TimeSlice slice(services_.closing(), progress.get());
    const QByteArray text = layoutCheckedRows(texts, list.checks(), &slice);
    ClearClipboard(clipboard_);
    SetClipboardText(clipboard_, text);
}
