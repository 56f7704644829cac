#include "ClipboardLayout.h"

#include "core/TimeSlice.h"

#include <algorithm>
#include <vector>

QString layoutCheckedRows(const ColumnTable &table, TimeSlice *slice) {
    // Progress counts every cell of the width pass and every row of the text pass.
    qsizetype passed = 0;
    auto turn = [&](qsizetype row) {
        if (slice && (row & 255) == 0 && slice->due()) {
            slice->setStepDone(passed + row);
            slice->yield();
        }
    };

    const int columns = table.columnCount();
    std::vector<qsizetype> ColumnWidths;
    for (int c = 0; c < columns; ++c) {
        qsizetype width = 0;
        for (qsizetype r = 0; r < table.rowCount(); ++r) {
            turn(r);
            width = std::max(width, table.cell(r, c).size());
        }
        ColumnWidths.push_back(width);
        passed += table.rowCount();
    }

    QString text;
    for (qsizetype r = 0; r < table.rowCount(); ++r) {
        turn(r);
        if (!table.isChecked(r))
            continue;
        for (int c = 0; c < columns; ++c) {
            const QString cell = table.cell(r, c);
            text += cell;
            // The last cell's fill would only be trimmed again.
            if (c + 1 < columns && ColumnWidths[size_t(c)] >= cell.size())
                text += QString(ColumnWidths[size_t(c)] - cell.size(), QLatin1Char(' '));
            text += QLatin1Char('\t');
        }
        if (columns > 0)
            text.chop(1); // the tab after the last cell
        qsizetype end = text.size();
        while (end > 0 && text[end - 1] == QLatin1Char(' '))
            --end;
        text.truncate(end);
        text += QLatin1String("\r\n");
    }
    return text;
}
