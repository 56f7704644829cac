#include "ClipboardLayout.h"

#include "core/MemoryLimits.h"
#include "core/TimeSlice.h"

#include <algorithm>
#include <vector>

namespace {
// The bytes of text in UTF-8: a pair of surrogates takes four, as two units of two.
qint64 utf8Size(QStringView text) {
    qint64 bytes = text.size();
    for (const QChar c : text)
        if (c.unicode() >= 0x80)
            bytes += c.unicode() < 0x800 || c.isSurrogate() ? 1 : 2;
    return bytes;
}
} // namespace

QByteArray layoutCheckedRows(const ColumnTable &table, TimeSlice *slice) {
    // Progress counts every cell of the width pass and every row of the text pass.
    qsizetype passed = 0;
    auto turn = [&](qsizetype row) {
        if (slice && (row & 255) == 0 && slice->due()) {
            slice->setStepDone(passed + row);
            slice->yield();
        }
    };

    // The width pass also sizes the text, so that its memory is asked for once, before any
    // of it is written, and a copy that cannot get it leaves nothing half done.
    const int columns = table.columnCount();
    std::vector<qsizetype> ColumnWidths;
    qint64 size = 0;
    for (int c = 0; c < columns; ++c) {
        qsizetype width = 0;
        qint64 bytes = 0, units = 0, ticked = 0;
        for (qsizetype r = 0; r < table.rowCount(); ++r) {
            turn(r);
            const QString cell = table.cell(r, c);
            width = std::max(width, cell.size());
            if (table.isChecked(r)) {
                bytes += utf8Size(cell);
                units += cell.size();
                ++ticked;
            }
        }
        ColumnWidths.push_back(width);
        // Fill and a tab after every cell but the last, CR LF after the last.
        size += bytes + (c + 1 < columns ? ticked * (width + 1) - units : ticked * 2);
        passed += table.rowCount();
    }
    memory::ensureRoomFor(size);

    QByteArray text;
    text.reserve(qsizetype(size));
    for (qsizetype r = 0; r < table.rowCount(); ++r) {
        turn(r);
        if (!table.isChecked(r))
            continue;
        for (int c = 0; c < columns; ++c) {
            const QString cell = table.cell(r, c);
            text += cell.toUtf8();
            // The last cell's fill would only be trimmed again.
            if (c + 1 < columns && ColumnWidths[size_t(c)] >= cell.size())
                text.append(ColumnWidths[size_t(c)] - cell.size(), ' ');
            text += '\t';
        }
        if (columns > 0)
            text.chop(1); // the tab after the last cell
        qsizetype end = text.size();
        while (end > 0 && text[end - 1] == ' ')
            --end;
        text.truncate(end);
        text += "\r\n";
    }
    return text;
}
