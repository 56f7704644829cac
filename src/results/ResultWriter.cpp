#include "ResultWriter.h"

#include "app/ErrorReport.h"
#include "app/TimeSlice.h"

#include <QStringEncoder>

namespace {
void put(QIODevice &device, QByteArray &buffer) {
    // A short write (a disk filling up) is tried again for the rest, which then fails with
    // the system's reason.
    qsizetype done = 0;
    while (done < buffer.size()) {
        const qint64 written = device.write(buffer.constData() + done, buffer.size() - done);
        if (written <= 0)
            throw Failure(device.errorString().isEmpty() ? QStringLiteral("Device I/O error")
                                                         : device.errorString());
        done += written;
    }
    buffer.clear();
}
} // namespace

void writeResults(QIODevice &device, const TextStore &values, ResultFormat format,
                  TimeSlice *slice) {
    constexpr qsizetype BufferSize = 1 << 20;
    // Stateless: half of a broken surrogate pair must not carry over into the next row.
    QStringEncoder encoder(QStringEncoder::System, QStringEncoder::Flag::Stateless);
    const char *separator = format == ResultFormat::Comma ? "," : "\r\n";
    QByteArray buffer;
    for (qsizetype i = 0; i < values.size(); ++i) {
        if (slice && (i & 255) == 0 && slice->due()) {
            put(device, buffer);
            slice->yield();
        }
        buffer += encoder.encode(values.text(i));
        buffer += separator;
        if (buffer.size() >= BufferSize)
            put(device, buffer);
    }
    if (format == ResultFormat::Comma)
        buffer += "\r\n";
    put(device, buffer);
}
