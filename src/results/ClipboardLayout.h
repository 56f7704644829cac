#pragma once

#include <QByteArray>
#include <QString>

class TimeSlice;

// A list shown in columns, as the copy command reads it. Rows and columns count from 0.
class ColumnTable {
public:
    virtual ~ColumnTable() = default;
    virtual int columnCount() const = 0;
    virtual qsizetype rowCount() const = 0;
    virtual QString cell(qsizetype row, int column) const = 0;
    virtual bool isChecked(qsizetype row) const = 0;
};

// The ticked rows as column-aligned text in UTF-8: every cell but the last padded with spaces
// to the longest text of its column (over all rows, in UTF-16 code units) and followed by a
// tab; trailing spaces of each line dropped; CR LF after every line. Throws std::bad_alloc
// before writing any of it when the process could not hold the text.
// Its progress counts (columns + 1) x rows steps.
QByteArray layoutCheckedRows(const ColumnTable &table, TimeSlice *slice);
