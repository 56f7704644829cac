// "Start Finding".
#include "app/Form1.h"

#include "app/TimeSlice.h"
#include "DuplicateFinder.h"
#include "list/TextListModel.h"

void Form1::PushButton4_Click() {
    runCommand(ErrorLocation::PushButton4Click, [&](Trap &t) {
        if (t.test(100, [&] { return busyFlag_; }))
            return;
        t.step(102, [&] { busyFlag_ = true; });
        if (!t.test(104, [&] { return inputModel_->itemCount() <= 0; })) {
            t.step(106, [&] { showBusyPointer(); });
            // The run sees the list as it stood when it started; rows go to the results list
            // as they are found, so clearing the results meanwhile works as expected.
            t.step(110, [&] {
                const TextStore items = inputModel_->store();
                const auto progress = progress_.begin(*ListView2Progress);
                progress->total = 2 * items.size();
                TimeSlice slice(closing_, progress.get());
                findDuplicates(
                    items, &slice, [&](const TextStore &rows) { resultsModel_->appendItems(rows); },
                    [&](qsizetype rows, qsizetype bytes) {
                        resultsModel_->reserveMore(rows, bytes);
                    });
            });
            t.step(148, [&] { endBusyPointer(); });
            t.step(150, [&] { message(QStringLiteral("Done.")); });
        } else {
            t.step(152, [&] { message(QStringLiteral("No files added.")); });
        }
        t.step(154, [&] { busyFlag_ = false; });
    });
}
