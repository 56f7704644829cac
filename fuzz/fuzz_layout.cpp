// The clipboard layout against the copy algorithm written out step by step.
#include "FuzzInput.h"

#include "results/ClipboardLayout.h"

#include <QList>

#include <vector>

namespace {
class Table : public ColumnTable {
public:
    int columns = 1;
    QList<QStringList> rows;
    QList<bool> ticks;
    int columnCount() const override { return columns; }
    qsizetype rowCount() const override { return rows.size(); }
    QString cell(qsizetype row, int column) const override { return rows[row][column]; }
    bool isChecked(qsizetype row) const override { return ticks[row]; }
};

QString reference(const Table &t) {
    std::vector<qsizetype> widths;
    for (int c = 0; c < t.columns; ++c) {
        qsizetype width = 0;
        for (const QStringList &row : t.rows)
            width = std::max(width, row[c].size());
        widths.push_back(width);
    }
    QString text;
    for (qsizetype r = 0; r < t.rows.size(); ++r) {
        if (!t.ticks[r])
            continue;
        for (int c = 0; c < t.columns; ++c) {
            const QString &x = t.rows[r][c];
            text += x;
            if (widths[size_t(c)] >= x.size())
                text += QString(widths[size_t(c)] - x.size(), QLatin1Char(' '));
            text += QLatin1Char('\t');
        }
        text.chop(1);
        while (text.endsWith(QLatin1Char(' ')))
            text.chop(1);
        text += QLatin1String("\r\n");
    }
    return text;
}
} // namespace

extern "C" int LLVMFuzzerTestOneInput(const unsigned char *data, size_t size) {
    FuzzInput input(data, size);
    Table table;
    table.columns = 1 + int(input.byte() % 4);
    while (!input.atEnd() && table.rows.size() < 200) {
        QStringList row;
        for (int c = 0; c < table.columns; ++c)
            row << input.text(8);
        table.rows << row;
        table.ticks << (input.byte() % 3 != 0);
    }
    FUZZ_CHECK(layoutCheckedRows(table, nullptr) == reference(table).toUtf8());
    return 0;
}
