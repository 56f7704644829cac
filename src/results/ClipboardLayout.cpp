#include "ClipboardLayout.h"

#include "core/TimeSlice.h"
#include "list/TextStore.h"

QString layoutCheckedRows(const TextStore &texts, const std::vector<bool> &checks,
                          TimeSlice *slice) {
    QString text;
    for (qsizetype r = 0; r < texts.size(); ++r) {
        if (slice && (r & 255) == 0 && slice->due()) {
            slice->setStepDone(r);
            slice->yield();
        }
        if (size_t(r) >= checks.size() || !checks[size_t(r)])
            continue;
        QString cell = texts.text(r);
        while (cell.endsWith(QLatin1Char(' ')))
            cell.chop(1);
        text += cell;
        text += QLatin1String("\r\n");
    }
    return text;
}
