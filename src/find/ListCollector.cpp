#include "ListCollector.h"

#include "core/Shared.h"
#include "list/ListFileReader.h"
#include "SpillFile.h"

#include <QBuffer>
#include <QFile>

#include <limits>

namespace {
// Counts the bytes read through it: a pipe's position tells nothing of how far reading has
// come.
class Counted : public QIODevice {
public:
    explicit Counted(QIODevice &device) : device_(device) {
        open(QIODevice::ReadOnly | QIODevice::Unbuffered);
    }
    bool isSequential() const override { return device_.isSequential(); }
    qint64 size() const override { return device_.size(); }
    // The reader looks ahead in a file by reading, then seeking back.
    bool seek(qint64 pos) override { return device_.seek(pos) && QIODevice::seek(pos); }
    qint64 total() const { return isSequential() ? total_ : pos(); }

protected:
    qint64 readData(char *data, qint64 size) override {
        const qint64 got = device_.read(data, size);
        if (got < 0)
            setErrorString(device_.errorString());
        else
            total_ += got;
        return got;
    }
    qint64 writeData(const char *, qint64) override { return -1; }

private:
    QIODevice &device_;
    qint64 total_ = 0;
};
} // namespace

ListCollector::ListCollector(qint64 budget, QString folder, ReadProgress read)
    : budget_(budget), folder_(std::move(folder)), readProgress_(std::move(read)) {}

ListCollector::~ListCollector() = default;

void ListCollector::announce(qsizetype lines, qsizetype bytes) {
    if (spill_)
        return;
    const qint64 need = inMemoryNeed(items_.size() + lines, qint64(items_.textBytes()) + bytes);
    if (need > budget_)
        startSpill(need);
}

void ListCollector::take(const TextStore &lines) {
    if (!spill_) {
        // The finder counts positions in 31 bits: a longer list is spilled too.
        const qint64 items = items_.size() + lines.size();
        const qint64 need = inMemoryNeed(items, qint64(items_.textBytes() + lines.textBytes()));
        if (need > budget_ || items >= std::numeric_limits<std::int32_t>::max())
            startSpill(need);
    }
    if (spill_)
        spill_->add(lines);
    else
        items_.append(lines);
}

void ListCollector::startSpill(qint64 need) {
    spill_ = std::make_unique<SpillFinder>(folder_, budget_, need);
    spill_->add(items_);
    items_ = TextStore();
}

void ListCollector::readFile(const QString &name) {
    QFile file;
    if (name == QLatin1String("-")) {
        if (!file.open(0, QIODevice::ReadOnly, QFileDevice::DontCloseHandle))
            throw Failure(file.errorString());
    } else {
        if (!FileExists(name))
            throw Failure(QStringLiteral("File not found"));
        file.setFileName(name);
        if (!file.open(QIODevice::ReadOnly))
            throw Failure(file.errorString());
    }
    // Read once, a pipe as a file: the lines go to the partition files from the moment the
    // budget cannot hold them.
    Counted counted(file);
    readListLines(
        counted, nullptr,
        [&](const TextStore &lines) {
            take(lines);
            if (readProgress_)
                readProgress_(readBefore_ + counted.total());
        },
        [&](qsizetype lines, qsizetype bytes) { announce(lines, bytes); });
    readBefore_ += counted.total();
}

void ListCollector::find(ResultWriter &writer, ResultFormat format, const QByteArray &lineEnd,
                         const SpillFinder::Progress &partitions) {
    if (spill_) {
        spill_->finish([&](const TextStore &rows) { writer.write(rows, nullptr); }, partitions);
        return;
    }
    // The worker threads write each stretch of rows as writer would: a comma after each value
    // is a line of its own ending in a comma, the last line end written by finish.
    const QByteArray separator = format == ResultFormat::Comma ? QByteArray(",") : lineEnd;
    findDuplicateBytes(
        items_,
        [&](const TextStore &rows) {
            QBuffer bytes;
            bytes.open(QIODevice::WriteOnly);
            ResultWriter stretch(bytes, ResultFormat::OnePerLine, separator);
            stretch.write(rows, nullptr);
            stretch.finish();
            return bytes.buffer();
        },
        [&](const QByteArray &bytes) { writer.writeFormatted(bytes); });
}
