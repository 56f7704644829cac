#pragma once

#include "list/TextStore.h"

#include <QIODevice>
#include <QStringEncoder>

class TimeSlice;

enum class ResultFormat {
    OnePerLine, // each value followed by a line end
    Comma,      // one line: each value followed by a comma, then a line end
};

// Writes result values in the system's encoding, no byte-order mark, as they come: write() may
// be called for batch after batch, then finish() once. Lines end in CR LF unless told
// otherwise. Throws Failure at the first write that fails.
class ResultWriter {
public:
    ResultWriter(QIODevice &device, ResultFormat format, QByteArray lineEnd = "\r\n");

    // Its progress counts the values of the batch.
    void write(const TextStore &values, TimeSlice *slice);
    // Bytes another writer of the same format made of values, as write() would write them.
    void writeFormatted(QByteArrayView bytes);
    // The values as a writer writes them, each followed by separator, for writeFormatted.
    static QByteArray formatted(const TextStore &values, const QByteArray &separator);
    void finish();

private:
    void put();
    void put(QByteArrayView bytes);

    QIODevice &device_;
    ResultFormat format_;
    QByteArray lineEnd_;
    // Stateless: half of a broken surrogate pair must not carry over into the next row.
    QStringEncoder encoder_;
    QByteArray buffer_;
};

// All the values at once, as the save commands write them.
void writeResults(QIODevice &device, const TextStore &values, ResultFormat format,
                  TimeSlice *slice);
