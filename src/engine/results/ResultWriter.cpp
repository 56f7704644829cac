#include "ResultWriter.h"

#include "engine/core/ErrorReport.h"
#include "engine/core/TimeSlice.h"

#include <QBuffer>

namespace {
constexpr qsizetype BufferSize = 1 << 20;
// Rows between looks at the clock, and checked as UTF-8 in one go.
constexpr qsizetype RowsAtOnce = 256;
// UTF-8 on every system, as Qt's system encoding is on Linux: Windows' ANSI code page would
// turn each character it lacks into "?", and the same results give the same bytes anywhere.
constexpr QStringConverter::Encoding Encoding = QStringConverter::Utf8;
} // namespace

// Where the system's encoding is UTF-8, text that is valid UTF-8 is written as it is stored,
// without a round trip through UTF-16.
bool ResultWriter::writesAsStored() {
    static const bool utf8 = [] {
        QStringEncoder encoder(Encoding);
        return encoder.encode(QStringView(u"\u00E9\u20AC\U0001F600")) ==
               QByteArray("\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80");
    }();
    return utf8;
}

ResultWriter::ResultWriter(QIODevice &device, ResultFormat format, QByteArray lineEnd)
    : device_(device), format_(format), lineEnd_(std::move(lineEnd)),
      encoder_(Encoding, QStringEncoder::Flag::Stateless) {
    buffer_.reserve(BufferSize + 4096);
}

void ResultWriter::put() {
    put(buffer_);
    buffer_.clear();
}

void ResultWriter::put(QByteArrayView bytes) {
    // A pipe may take part of it; the rest goes in the next write, which tells why if it fails.
    for (qsizetype done = 0; done < bytes.size();) {
        const qint64 written = device_.write(bytes.data() + done, bytes.size() - done);
        if (written <= 0)
            throw Failure(written < 0 && !device_.errorString().isEmpty()
                              ? device_.errorString()
                              : QStringLiteral("Device I/O error"));
        done += qsizetype(written);
    }
}

void ResultWriter::write(const TextStore &values, TimeSlice *slice) {
    const bool plain = writesAsStored();
    const QByteArrayView separator =
        format_ == ResultFormat::Comma ? QByteArrayView(",") : QByteArrayView(lineEnd_);
    auto appendRow = [&](qsizetype i) {
        const QByteArrayView bytes = values.bytes(i);
        if (plain && bytes.isValidUtf8())
            buffer_.append(bytes.data(), bytes.size());
        else
            buffer_ += encoder_.encode(values.text(i));
        buffer_.append(separator.data(), separator.size());
    };
    for (qsizetype first = 0; first < values.size();) {
        if (slice && slice->due()) {
            put();
            slice->setStepDone(first);
            slice->yield();
        }
        // Stored text is UTF-8 but for lone surrogates: a stretch of rows goes in as stored and
        // is checked at once, and only a stretch that holds one is written row by row.
        // The buffer is below its size here, so a stretch holds a row at least.
        const qsizetype start = buffer_.size();
        qsizetype end = first;
        while (end < values.size() && end - first < RowsAtOnce && buffer_.size() < BufferSize) {
            const QByteArrayView bytes = values.bytes(end++);
            buffer_.append(bytes.data(), bytes.size());
            buffer_.append(separator.data(), separator.size());
        }
        if (!plain || !QByteArrayView(buffer_).sliced(start).isValidUtf8()) {
            buffer_.truncate(start);
            for (qsizetype i = first; i < end; ++i)
                appendRow(i);
        }
        if (buffer_.size() >= BufferSize)
            put();
        first = end;
    }
}

void ResultWriter::writeFormatted(QByteArrayView bytes) {
    if (buffer_.size() + bytes.size() < BufferSize) {
        buffer_.append(bytes.data(), bytes.size());
        return;
    }
    // A large piece goes out as it is, after what waits before it.
    put();
    put(bytes);
}

QByteArray ResultWriter::formattedOneByOne(const TextStore &values, const QByteArray &separator) {
    QBuffer buffer;
    buffer.open(QIODevice::WriteOnly);
    ResultWriter writer(buffer, ResultFormat::OnePerLine, separator);
    writer.write(values, nullptr);
    writer.finish();
    return buffer.buffer();
}

void ResultWriter::finish() {
    if (format_ == ResultFormat::Comma)
        buffer_ += lineEnd_;
    put();
}

void writeResults(QIODevice &device, const TextStore &values, ResultFormat format,
                  TimeSlice *slice) {
    ResultWriter writer(device, format);
    writer.write(values, slice);
    writer.finish();
}
