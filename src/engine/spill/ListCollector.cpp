#include "ListCollector.h"

#include "engine/core/Shared.h"
#include "engine/core/Workers.h"
#include "engine/list/ListFileReader.h"
#include "SpillFile.h"

#include <QFile>

#include <deque>
#include <limits>

namespace {
// Batches read ahead of the one being taken: enough to keep both threads busy.
constexpr std::size_t ReadAhead = 2;

// Counts the bytes read through it: a pipe's position tells nothing of how far reading has
// come.
class Counted : public QIODevice {
public:
    explicit Counted(QIODevice &device) : device_(device) {
        open(QIODevice::ReadOnly | QIODevice::Unbuffered);
    }
    bool isSequential() const override { return true; }
    qint64 total() const { return total_; }

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

// The lines of a file as they are read, with how far reading has come in bytes.
using BatchSink = std::function<void(const TextStore &lines, qint64 done)>;

// Runs read on a thread of its own, a few batches ahead, and hands each batch to taken here,
// in order. Throws what read threw once the batches before it are taken.
void readAhead(const std::function<void(const BatchSink &)> &read, const BatchSink &taken) {
    struct Batch {
        TextStore lines;
        qint64 done;
    };
    std::deque<Batch> ready;
    workers::Crew crew;
    crew.start(1, [&](size_t) {
        read([&](const TextStore &lines, qint64 done) {
            Batch batch{lines, done};
            auto lock = crew.lock();
            crew.waitUntil(lock, [&] { return ready.size() < ReadAhead; });
            ready.push_back(std::move(batch));
            crew.notify();
        });
    });
    auto lock = crew.lock();
    for (;;) {
        if (ready.empty()) {
            if (crew.finished())
                break;
            crew.waitFor(lock, workers::QuietPoll);
            continue;
        }
        const Batch batch = std::move(ready.front());
        ready.pop_front();
        crew.notify();
        lock.unlock();
        taken(batch.lines, batch.done);
        lock.lock();
    }
    lock.unlock();
    crew.rethrowFailure();
}
} // namespace

ListCollector::ListCollector(qint64 budget, QString folder, ReadProgress read)
    : budget_(budget), folder_(std::move(folder)), readProgress_(std::move(read)) {}

ListCollector::~ListCollector() = default;

// The spill starts knowing the whole list's need, so that it chooses its partitions once.
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
    // budget cannot hold them. A file is read as itself, so that its size is known.
    const bool pipe = file.isSequential();
    Counted counted(file);
    const auto read = [&](const BatchSink &sink) {
        readListLines(
            pipe ? static_cast<QIODevice &>(counted) : file, nullptr,
            [&](const TextStore &lines) { sink(lines, pipe ? counted.total() : file.pos()); },
            [&](qsizetype lines, qsizetype bytes) { announce(lines, bytes); },
            {.longestLine = longestLine_});
    };
    const BatchSink taken = [&](const TextStore &lines, qint64 done) {
        take(lines);
        if (readProgress_)
            readProgress_(readBefore_ + done);
    };
    // Dealing the lines to the partition files costs about what reading and cutting them
    // does, so a file that will be spilled is read ahead on a thread of its own. That thread
    // then announces the file, before its first batch, while this one waits for the batch.
    // Not a pipe: should the temporary folder fail, the reading thread could be waiting for
    // the pipe's writer, and so would the error.
    const bool spills =
        !pipe &&
        (spill_ || inMemoryNeed(items_.size(), qint64(items_.textBytes())) + file.size() > budget_);
    if (spills)
        readAhead(read, taken);
    else
        read(taken);
    readBefore_ += pipe ? counted.total() : file.size();
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
        [&](const MarkedRows &rows) {
            return ResultWriter::formatted([&](const auto &value) { rows.forEach(value); },
                                           separator);
        },
        [&](const QByteArray &bytes) { writer.writeFormatted(bytes); });
}
