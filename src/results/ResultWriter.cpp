#include "ResultWriter.h"

#include "app/ErrorReport.h"
#include "app/TimeSlice.h"

#include <QStringEncoder>

namespace {
void put(QIODevice &device, QByteArray &buffer) {
    if (device.write(buffer) != buffer.size())
        throw Failure(device.errorString().isEmpty() ? QStringLiteral("Device I/O error")
                                                     : device.errorString());
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
