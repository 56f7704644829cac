// "Start Finding".
#include "FindCommand.h"

#include "DuplicateFinder.h"
#include "engine/core/CommandServices.h"
#include "engine/core/MemoryLimits.h"
#include "engine/core/TimeSlice.h"
#include "engine/store/TextListModel.h"

FindCommand::FindCommand(CommandServices &services, TextListModel &input, TextListModel &results,
                         ProgressTarget &progress, QObject *parent)
    : QObject(parent), services_(services), inputModel_(&input), resultsModel_(&results),
      progressTarget_(&progress) {}

void FindCommand::PushButton4_Click() {
    services_.runCommand(ErrorLocation::PushButton4Click, [&](Trap &t) {
        if (t.test(100, [&] { return busyFlag_; }))
            return;
        t.step(102, [&] { busyFlag_ = true; });
        if (!t.test(104, [&] { return inputModel_->itemCount() <= 0; })) {
            t.step(106, [&] { services_.showBusyPointer(); });
            // The run sees the list as it stood when it started; rows go to the results list
            // as they are found, so clearing the results meanwhile works as expected.
            t.step(110, [&] {
                const TextStore items = inputModel_->store();
                // The results make their own room once the number of rows is known.
                memory::ensureRoomFor(findIndexBytes(items.size()));
                const auto progress = services_.beginProgress(*progressTarget_);
                progress->total = 2 * items.size();
                TimeSlice slice(services_.closing(), progress.get());
                findDuplicates(
                    items, &slice, [&](const TextStore &rows) { resultsModel_->appendItems(rows); },
                    [&](qsizetype rows, qsizetype bytes) {
                        resultsModel_->reserveMore(rows, bytes);
                    });
            });
            t.step(148, [&] { services_.endBusyPointer(); });
            t.step(150, [&] { services_.message(QStringLiteral("Done.")); });
        } else {
            t.step(152, [&] { services_.message(QStringLiteral("No files added.")); });
        }
        t.step(154, [&] { busyFlag_ = false; });
    });
}
