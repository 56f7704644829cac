#pragma once

#include "engine/core/ShortBytes.h"
#include "engine/store/TextStore.h"

#include <QIODevice>
#include <QStringEncoder>

class TimeSlice;

enum class ResultFormat {
    OnePerLine, // each value followed by a line end
    Comma,      // one line: each value followed by a comma, then a line end
};

// Writes result values in UTF-8, no byte-order mark, as they come: write() may
// be called for batch after batch, then finish() once. Lines end in CR LF unless told
// otherwise. Throws Failure at the first write that fails.
class ResultWriter {
public:
    ResultWriter(QIODevice &device, ResultFormat format, QByteArray lineEnd = "\r\n");

    // Its progress counts the values of the batch.
    void write(const TextStore &values, TimeSlice *slice);
    // Bytes another writer of the same format made of values, as write() would write them.
    void writeFormatted(QByteArrayView bytes);
    // Values as a writer writes them, each followed by separator, for writeFormatted.
    // forEach(f) calls f(bytes) with each value's stored bytes, in order; it is called up to
    // three times.
    template <class ForEach>
    static QByteArray formatted(const ForEach &forEach, const QByteArray &separator);
    void finish();

private:
    static bool writesAsStored();
    static QByteArray formattedOneByOne(const TextStore &values, const QByteArray &separator);
    void put();
    void put(QByteArrayView bytes);

    QIODevice &device_;
    ResultFormat format_;
    QByteArray lineEnd_;
    // Stateless: half of a broken surrogate pair must not carry over into the next row.
    QStringEncoder encoder_;
    QByteArray buffer_;
};

template <class ForEach>
QByteArray ResultWriter::formatted(const ForEach &forEach, const QByteArray &separator) {
    if (writesAsStored()) {
        qsizetype count = 0, textBytes = 0;
        forEach([&](QByteArrayView text) {
            ++count;
            textBytes += text.size();
        });
        // Stored text is UTF-8 but for lone surrogates: the values go in as stored, and are
        // written one by one only when they hold one.
        QByteArray bytes(textBytes + count * separator.size(), Qt::Uninitialized);
        char *out = bytes.data();
        forEach([&](QByteArrayView text) {
            out = shortbytes::copy(out, text);
            out = shortbytes::copy(out, separator);
        });
        if (QByteArrayView(bytes).isValidUtf8())
            return bytes;
    }
    TextStore values;
    forEach([&](QByteArrayView text) { values.appendBytes(text); });
    return formattedOneByOne(values, separator);
}

// All the values at once, as the save commands write them.
void writeResults(QIODevice &device, const TextStore &values, ResultFormat format,
                  TimeSlice *slice);
