#include "ListCollector.h"

#include "core/Shared.h"
#include "list/ListFileReader.h"
#include "SpillFile.h"

#include <QBuffer>
#include <QFile>

#include <limits>
#include <optional>

#include <unistd.h>

namespace {
// A file read through it is read once: the reader keeps the blocks it surveys instead of
// reading the file again.
class ReadOnce : public QIODevice {
public:
    explicit ReadOnce(QIODevice &file) : file_(file) { open(QIODevice::ReadOnly); }
    bool isSequential() const override { return true; }

protected:
    qint64 readData(char *data, qint64 size) override {
        const qint64 got = file_.read(data, size);
        if (got < 0)
            setErrorString(file_.errorString());
        return got;
    }
    qint64 writeData(const char *, qint64) override { return -1; }

private:
    QIODevice &file_;
};

// The bytes a pipe or a file read once is read in.
constexpr qint64 SpoolBlock = 1 << 20;
} // namespace

// A pipe cannot be read twice, and the reader sees all of it before it decodes a line (to
// tell UTF-8 from Windows-1252): what the budget cannot hold waits in a temporary file.
struct ListCollector::Spooled {
    std::unique_ptr<TemporaryFile> file;
    std::unique_ptr<QIODevice> device;
    std::optional<Failure> failure; // read after the bytes before it
};

ListCollector::ListCollector(qint64 budget, QString folder, ReadProgress read)
    : budget_(budget), folder_(std::move(folder)), readProgress_(std::move(read)) {}

ListCollector::~ListCollector() = default;

qint64 ListCollector::roomLeft() const {
    return spill_ ? 0
                  : std::max<qint64>(
                        0, budget_ - inMemoryNeed(items_.size(), qint64(items_.textBytes())));
}

void ListCollector::announce(qsizetype lines, qsizetype bytes) {
    if (spill_)
        return;
    const qint64 need = inMemoryNeed(items_.size() + lines, qint64(items_.textBytes()) + bytes);
    if (need > budget_)
        startSpill(need);
    else
        items_.reserveMore(lines, bytes);
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

ListCollector::Spooled ListCollector::spool(QIODevice &pipe) {
    Spooled result;
    QByteArray held;
    const qint64 room = roomLeft() / 2;
    qint64 total = 0;
    for (;;) {
        const qsizetype at = held.size();
        if (held.capacity() < at + SpoolBlock)
            held.reserve(std::max(held.capacity() * 2, at + SpoolBlock));
        held.resize(at + SpoolBlock);
        const qint64 got = pipe.read(held.data() + at, SpoolBlock);
        held.resize(at + std::max<qint64>(got, 0));
        if (got < 0)
            result.failure = Failure(pipe.errorString());
        if (got <= 0)
            break;
        total += got;
        if (readProgress_)
            readProgress_(readBefore_ + total);
        if (held.size() > room) {
            if (!result.file)
                result.file = std::make_unique<TemporaryFile>(folder_);
            result.file->append(held);
            held.truncate(0);
        }
    }
    if (!result.file) {
        auto buffer = std::make_unique<QBuffer>();
        buffer->setData(held);
        held = QByteArray();
        buffer->open(QIODevice::ReadOnly);
        result.device = std::move(buffer);
        return result;
    }
    result.file->append(held);
    held = QByteArray();
    auto file = std::make_unique<QFile>();
    if (::lseek(result.file->handle(), 0, SEEK_SET) != 0 ||
        !file->open(result.file->handle(), QIODevice::ReadOnly, QFileDevice::DontCloseHandle))
        throw TemporaryFailure(file->errorString());
    result.device = std::move(file);
    return result;
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
    if (file.isSequential()) {
        Spooled spooled = spool(file);
        read(*spooled.device, nullptr);
        if (spooled.failure)
            throw *spooled.failure;
    } else if (file.size() <= roomLeft() / 2) {
        // The file's blocks are held from the reader's survey to its cutting of the lines,
        // which the budget then holds too.
        ReadOnce once(file);
        read(once, &file);
        readBefore_ += file.pos();
    } else {
        read(file, &file);
        readBefore_ += file.pos();
    }
}

void ListCollector::read(QIODevice &device, const QIODevice *file) {
    readListLines(
        device, nullptr,
        [&](const TextStore &lines) {
            take(lines);
            if (file && readProgress_)
                readProgress_(readBefore_ + file->pos());
        },
        [&](qsizetype lines, qsizetype bytes) { announce(lines, bytes); });
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
