#include "ListFileReader.h"

#include "engine/core/ErrorReport.h"
#include "engine/core/TimeSlice.h"
#include "engine/core/Workers.h"
#include "LineCutter.h"
#include "TextDecoding.h"

#include <QElapsedTimer>
#include <QStringDecoder>

#include <algorithm>
#include <atomic>
#include <cstring>
#include <functional>
#include <limits>
#include <optional>
#include <vector>

namespace {
// Large blocks keep the system calls few; small enough that splitting one stays well
// inside a time slice.
constexpr qsizetype BlockSize = 1 << 20;

// Collects the lines and hands them to the sink in batches. Each line of 8-bit text is
// decoded on its own, so that equal bytes give equal texts wherever they stand: valid UTF-8
// as it is; any other line as Windows-1252, or, in a file marked as UTF-8, its valid
// sequences kept and only the other bytes taken so.
class LineSplitter {
    struct Append {
        LineSplitter *splitter;
        void operator()(QByteArrayView line) const { splitter->append(line); }
    };

public:
    LineSplitter(const LineSink &sink, qint64 longest)
        : sink_(sink), cutter_(Append{this}), longest_(longest) {}

    void setMarked(bool marked) { marked_ = marked; }
    bool marked() const { return marked_; }
    qint64 lines() const { return cut_; }
    // Lines decoded before they were cut (UTF-16) are kept as they are, lone surrogates too.
    void setDecoded() { decoded_ = true; }
    void feed(QByteArrayView chunk) {
        chunk_ = chunk;
        chunkValid_ = decoded_ || validUpToLastAscii(chunk);
        cutter_.feed(chunk);
        chunk_ = {};
        // Refused before it is whole: a line may be far larger than memory.
        if (cutter_.pending() > longest_)
            throw LineTooLong(cut_ + 1);
    }
    void finish() {
        cutter_.finish();
        flush();
    }
    void flush() {
        filler_.settle();
        if (!refused_)
            handOverBatch(lines_, sink_);
    }
    // Whole chunks only, which the list takes without a copy; the rest waits for the next,
    // unless it holds more than a line may: a chunk of long lines would hold many times that.
    // Should the list refuse them, no line after them may follow.
    void flushWhole() {
        filler_.settle();
        TextStore whole = qint64(lines_.textBytes()) > longest_ ? std::exchange(lines_, {})
                                                                : lines_.takeWholeChunks();
        refused_ = true;
        handOverBatch(whole, sink_);
        refused_ = false;
    }

private:
    // Line ends are ASCII, so every line that ends in a chunk valid up to its last ASCII byte
    // is valid: one check of each chunk spares one per line. The bytes after it (a sequence
    // cut off at the chunk's end, say) belong to a line that is checked on its own.
    static bool validUpToLastAscii(QByteArrayView chunk) {
        qsizetype end = chunk.size();
        while (end > 0 && uchar(chunk[end - 1]) >= 0x80)
            --end;
        return chunk.first(end).isValidUtf8();
    }
    void append(QByteArrayView line) {
        if (line.size() > longest_)
            throw LineTooLong(cut_ + 1);
        ++cut_;
        // A line held over from an earlier chunk lies outside this one.
        const bool inChunk =
            !std::less<>()(line.data(), chunk_.data()) && std::less<>()(line.data(), chunk_.end());
        if (decoded_ || (chunkValid_ && inChunk) || line.isValidUtf8()) {
            filler_.append(line);
            return;
        }
        filler_.append(EightBitDecoder(marked_).decode(line.toByteArray(), true));
    }

    const LineSink &sink_;
    TextStore lines_;
    TextStore::Filler filler_{lines_};
    LineCutter<Append> cutter_;
    QByteArrayView chunk_; // the chunk being cut
    bool chunkValid_ = false;
    bool marked_ = false;
    bool decoded_ = false;
    bool refused_ = false; // the list refused whole chunks, which are gone
    qint64 longest_;
    qint64 cut_ = 0; // lines cut so far
};

// Reads a device block by block, or a file from a place on through readAt. A read that fails
// after some bytes came in first hands over those bytes and throws on the next call.
class BlockReader {
public:
    explicit BlockReader(QIODevice &device) : device_(&device) {}
    BlockReader(const ReadAt &readAt, qint64 offset) : readAt_(&readAt), offset_(offset) {}

    // Reads no more than this many bytes in all.
    void stopAfter(qint64 bytes) { limit_ = bytes; }

    // An empty block at the end.
    const QByteArray &next() {
        if (failure_)
            throw *failure_;
        const auto wanted = qsizetype(std::clamp<qint64>(limit_ - total_, 0, BlockSize));
        block_.resize(wanted);
        qsizetype filled = 0;
        // A pipe hands over what it has; fill the block so that kept blocks are not mostly empty.
        while (filled < wanted) {
            const qint64 got = readSome(block_.data() + filled, wanted - filled);
            if (got < 0) {
                if (filled == 0)
                    throw *failure_;
                break;
            }
            if (got == 0)
                break;
            filled += qsizetype(got);
        }
        block_.truncate(filled);
        total_ += filled;
        return block_;
    }
    qint64 total() const { return total_; }

private:
    qint64 readSome(char *data, qint64 size) {
        if (readAt_) {
            try {
                const qint64 got = (*readAt_)(data, size, offset_);
                offset_ += got;
                return got;
            } catch (const Failure &failure) {
                failure_ = failure;
                return -1;
            }
        }
        const qint64 got = device_->read(data, size);
        if (got < 0)
            failure_ =
                Failure(device_->errorString().isEmpty() ? QStringLiteral("Input past end of file")
                                                         : device_->errorString());
        return got;
    }

    QIODevice *device_ = nullptr;
    const ReadAt *readAt_ = nullptr;
    qint64 offset_ = 0;
    qint64 limit_ = std::numeric_limits<qint64>::max();
    QByteArray block_;
    std::optional<Failure> failure_;
    qint64 total_ = 0;
};

// The second half of a large file, from the first line that begins in it, read on a thread of
// its own while the caller reads the first half. Its lines wait for their turn.
class SecondHalf {
public:
    // Where the second half begins: after the first LF from the middle on; -1 when none is
    // found within a block.
    static qint64 start(const ReadAt &readAt, qint64 from, qint64 size) {
        const qint64 middle = from + size / 2;
        QByteArray probe(qsizetype(std::min<qint64>(BlockSize, size - size / 2)),
                         Qt::Uninitialized);
        qint64 got = 0;
        try {
            got = readAt(probe.data(), probe.size(), middle);
        } catch (const Failure &) {
            return -1; // the first half reads on; its own read will tell
        }
        const char *lf = static_cast<const char *>(std::memchr(probe.data(), '\n', size_t(got)));
        return lf ? middle + (lf - probe.data()) + 1 : -1;
    }

    SecondHalf(const ReadAt &readAt, qint64 from, bool marked, qint64 longest)
        : readAt_(readAt), from_(from), marked_(marked), longest_(longest) {
        crew_.start(1, [this](size_t) { read(); });
    }

    qint64 done() const { return done_.load(std::memory_order_relaxed); }

    // Once the first half's lines are handed over: waits for the thread, taking turns, hands
    // its lines to sink, then throws what ended its reading early.
    void handOver(TimeSlice *slice, const LineSink &sink, qint64 firstDone) {
        crew_.waitAll(slice, [&] { return firstDone + done(); });
        for (TextStore &batch : batches_) {
            handOverBatch(batch, sink);
            if (slice)
                slice->turnIfDue(firstDone + done());
        }
        crew_.rethrowFailure();
    }

private:
    void read() {
        const LineSink keep = [this](const TextStore &lines) { batches_.push_back(lines); };
        LineSplitter splitter(keep, longest_);
        splitter.setMarked(marked_);
        BlockReader reader(readAt_, from_);
        try {
            for (;;) {
                crew_.pause();
                const QByteArray &block = reader.next();
                if (block.isEmpty())
                    break;
                splitter.feed(block);
                splitter.flushWhole();
                done_.store(reader.total(), std::memory_order_relaxed);
            }
            splitter.finish();
        } catch (const Failure &) {
            splitter.flush();
            throw;
        }
    }

    const ReadAt readAt_;
    const qint64 from_;
    const bool marked_;
    const qint64 longest_;
    std::vector<TextStore> batches_;
    std::atomic<qint64> done_{0};
    workers::Crew crew_; // last: stops and waits for the thread before the rest goes
};

// After each block, with how far reading has come in bytes. Batches hold the whole chunks
// of about a block, which the list takes as they are; the list's view keeps nothing per row,
// so telling it of rows often costs nothing.
void yieldAndHandOver(TimeSlice *slice, LineSplitter &splitter, qint64 done) {
    splitter.flushWhole();
    if (slice)
        slice->turnIfDue(done);
}

// Counting lines takes a population count per 32 bytes: where the processor has an
// instruction for it, a copy made for it is chosen when the program starts.
// The choice at start is an ELF feature (ifunc): Windows' executables have one copy.
#if defined(__GNUC__) && defined(__x86_64__) && !defined(__POPCNT__) && !defined(__clang__) &&     \
    defined(__ELF__)
__attribute__((target_clones("popcnt", "default")))
#endif
void countLines(LineCounter &counter, QByteArrayView block) noexcept {
    counter.feed(block);
}

// Reads 8-bit text once, handing lines over as they come, so that an item added meanwhile
// lands among them. The lines a file's first block holds per byte stand for the whole file
// when room is made for it; its text takes no more bytes than the file. A large file whose
// lines the receiver keeps is read in two halves at once (from a quick disk).
void read8Bit(QIODevice &device, TimeSlice *slice, LineSplitter &splitter, const LineSink &sink,
              const LineSpace &space, const ReadTuning &tuning) {
    const qint64 from = device.pos();
    const qint64 size = device.isSequential() ? -1 : device.size() - from;
    const ReadAt &readAt = tuning.readAt;
    const bool mayHalve = readAt && size > 0 && size >= tuning.splitFrom;
    BlockReader reader(device);
    // The first block stops at the middle, so it never reaches into the second half.
    if (mayHalve)
        reader.stopAfter(std::max<qint64>(size / 2, 1));
    std::optional<SecondHalf> second;
    QElapsedTimer firstRead;
    firstRead.start();
    for (bool first = true;; first = false) {
        const QByteArray &block = reader.next();
        if (block.isEmpty())
            break;
        if (first && size > 0) {
            LineCounter sample;
            countLines(sample, block);
            const qint64 lines =
                block.size() >= size
                    ? sample.lines()
                    : qint64(double(sample.lines()) * double(size) / double(block.size()) * 1.125) +
                          1;
            const bool kept = !space || space(qsizetype(lines), qsizetype(size));
            // Halves pay where one thread cannot keep up with the disk; on a slow one
            // (below about 250 MB/s) they would only make it seek between them.
            const bool fast = firstRead.nsecsElapsed() <= qint64(block.size()) * 4 + 1'000'000;
            const qint64 split =
                kept && mayHalve && fast ? SecondHalf::start(readAt, from, size) : -1;
            if (split >= 0)
                second.emplace(readAt, split, splitter.marked(), tuning.longestLine);
            reader.stopAfter(split >= 0 ? split - from : std::numeric_limits<qint64>::max());
        }
        splitter.feed(block);
        yieldAndHandOver(slice, splitter, reader.total() + (second ? second->done() : 0));
    }
    if (!second)
        return;
    splitter.finish();
    try {
        second->handOver(slice, sink, reader.total());
    } catch (const LineTooLong &tooLong) {
        throw LineTooLong(splitter.lines() + tooLong.line); // counted from the second half
    }
}

void readUtf16(QIODevice &device, QStringConverter::Encoding encoding, TimeSlice *slice,
               LineSplitter &splitter) {
    QStringDecoder utf16(encoding, QStringConverter::Flag::ConvertInitialBom);
    QString heldHighSurrogate;
    BlockReader reader(device);
    for (;;) {
        const QByteArray &block = reader.next();
        if (block.isEmpty())
            break;
        // A surrogate pair cut by the block boundary is joined again first.
        QString text = heldHighSurrogate + QString(utf16.decode(block));
        heldHighSurrogate.clear();
        if (!text.isEmpty() && text.back().isHighSurrogate()) {
            heldHighSurrogate = text.back();
            text.chop(1);
        }
        splitter.feed(TextStore::encode(text));
        yieldAndHandOver(slice, splitter, reader.total());
    }
    if (!heldHighSurrogate.isEmpty())
        splitter.feed(TextStore::encode(heldHighSurrogate));
    // A dangling half of a UTF-16 unit still shows up rather than vanishing.
    if (reader.total() & 1)
        splitter.feed("\xEF\xBF\xBD");
}

// The first bytes, as many as a byte-order mark takes, or fewer at the end: a pipe may hand
// them over one at a time.
QByteArray peekHead(QIODevice &device) {
    QByteArray head = device.peek(3);
    for (QByteArray more; head.size() < 3 && (more = device.peek(3)).size() > head.size();)
        head = more;
    return head;
}
} // namespace

void readListLines(QIODevice &device, TimeSlice *slice, const LineSink &sink,
                   const LineSpace &space, const ReadTuning &tuning) {
    LineSplitter splitter(sink, tuning.longestLine);
    try {
        const QByteArray head = peekHead(device);
        if (head.startsWith("\xFF\xFE") || head.startsWith("\xFE\xFF")) {
            device.skip(2);
            splitter.setDecoded();
            if (space && !device.isSequential())
                space(0, qsizetype(device.size()));
            readUtf16(device,
                      head.startsWith("\xFF\xFE") ? QStringConverter::Utf16LE
                                                  : QStringConverter::Utf16BE,
                      slice, splitter);
        } else {
            const bool marked = head.startsWith("\xEF\xBB\xBF");
            if (marked)
                device.skip(3);
            splitter.setMarked(marked);
            read8Bit(device, slice, splitter, sink, space, tuning);
        }
        splitter.finish();
    } catch (const Failure &) {
        splitter.flush(); // the complete lines read so far; a cut-off line is not one
        throw;
    }
}
