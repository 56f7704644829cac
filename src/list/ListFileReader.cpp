#include "ListFileReader.h"

#include "core/ErrorReport.h"
#include "core/TimeSlice.h"
#include "LineCutter.h"
#include "TextDecoding.h"

#include <QStringDecoder>

#include <deque>
#include <optional>

namespace {
// Large blocks keep the system calls few; small enough that splitting one stays well
// inside a time slice.
constexpr qsizetype BlockSize = 1 << 20;

// Collects the lines and hands them to the sink in batches.
class LineSplitter {
    struct Append {
        TextStore *lines;
        void operator()(QByteArrayView line) const { lines->appendBytes(line); }
    };

public:
    explicit LineSplitter(const LineSink &sink) : sink_(sink), cutter_(Append{&lines_}) {}

    void feed(QByteArrayView chunk) { cutter_.feed(chunk); }
    void finish() {
        cutter_.finish();
        flush();
    }
    void flush() { handOverBatch(lines_, sink_); }

private:
    const LineSink &sink_;
    TextStore lines_;
    LineCutter<Append> cutter_;
};

// Reads a device block by block. A read that fails after some bytes came in first hands over
// those bytes and throws on the next call.
class BlockReader {
public:
    explicit BlockReader(QIODevice &device) : device_(device) {}

    // An empty block at the end.
    const QByteArray &next() {
        if (failure_)
            throw *failure_;
        block_.resize(BlockSize);
        qsizetype filled = 0;
        // A pipe hands over what it has; fill the block so that kept blocks are not mostly empty.
        while (filled < BlockSize) {
            const qint64 got = device_.read(block_.data() + filled, BlockSize - filled);
            if (got < 0) {
                failure_ = Failure(device_.errorString().isEmpty()
                                       ? QStringLiteral("Input past end of file")
                                       : device_.errorString());
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
    QIODevice &device_;
    QByteArray block_;
    std::optional<Failure> failure_;
    qint64 total_ = 0;
};

// After each block, with how far reading has come in bytes. Batches stay one block small, so
// they are copied into the list while still in the cache; the list's view keeps nothing per
// row, so telling it of rows often costs nothing.
void yieldAndHandOver(TimeSlice *slice, LineSplitter &splitter, qint64 done) {
    splitter.flush();
    if (slice && slice->due()) {
        slice->setStepDone(done);
        slice->yield();
    }
}

// What a first pass over 8-bit text learnt.
struct Survey {
    bool utf8 = true;
    qsizetype lines = 0;
    qsizetype textBytes = 0; // without the line ends
    qint64 bytes = 0;        // read before the end or a failure
    std::optional<Failure> failure;
};

// Counting lines takes a population count per 32 bytes: where the processor has an
// instruction for it, a copy made for it is chosen when the program starts.
#if defined(__GNUC__) && defined(__x86_64__) && !defined(__POPCNT__) && !defined(__clang__)
__attribute__((target_clones("popcnt", "default")))
#endif
void countLines(LineCounter &counter, QByteArrayView block) noexcept {
    counter.feed(block);
}

// Reads the rest of the device once to learn whether it is UTF-8 and how many lines and bytes
// of text it holds. A sequential device cannot be read again, so its blocks are kept.
Survey survey(QIODevice &device, TimeSlice *slice, std::deque<QByteArray> *kept) {
    Survey result;
    Utf8Check check;
    LineCounter counter;
    BlockReader reader(device);
    try {
        for (;;) {
            const QByteArray &block = reader.next();
            if (block.isEmpty())
                break;
            check.feed(block);
            countLines(counter, block);
            if (kept)
                kept->push_back(block);
            if (slice && slice->due()) {
                // Text read twice counts each half of its bytes in either pass.
                slice->setStepDone(reader.total() / 2);
                slice->yield();
            }
        }
    } catch (const Failure &failure) {
        // Judged by what could be read; the lines before the failure are still read.
        result.failure = failure;
    }
    result.utf8 = check.finish();
    result.lines = counter.lines();
    result.textBytes = counter.textBytes();
    result.bytes = reader.total();
    return result;
}

// Decodes 8-bit text that was surveyed before: read again from a file, or from the kept blocks
// of a sequential device. Stops where the survey stopped.
void read8Bit(QIODevice &device, bool keepUtf8Marked, TimeSlice *slice, LineSplitter &splitter,
              const LineSpace &space) {
    std::deque<QByteArray> kept;
    const bool sequential = device.isSequential();
    const qint64 start = sequential ? 0 : device.pos();
    const Survey found = survey(device, slice, sequential ? &kept : nullptr);
    if (space)
        space(found.lines, found.utf8 ? found.textBytes : qsizetype(found.bytes));
    if (!sequential && !device.seek(start))
        throw Failure(device.errorString());

    EightBitDecoder eightBit(keepUtf8Marked);
    BlockReader reader(device);
    qint64 left = found.bytes;
    while (left > 0) {
        QByteArray block;
        if (sequential) {
            block = std::move(kept.front());
            kept.pop_front();
        } else {
            block = reader.next();
            if (block.isEmpty())
                break; // the file got shorter meanwhile
            block.truncate(qsizetype(std::min<qint64>(left, block.size())));
        }
        left -= block.size();
        if (found.utf8)
            splitter.feed(block);
        else
            splitter.feed(eightBit.decode(block, false));
        yieldAndHandOver(slice, splitter, found.bytes - left / 2);
    }
    splitter.feed(eightBit.decode({}, true)); // a sequence cut off at the very end
    if (found.failure)
        throw *found.failure;
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
} // namespace

void readListLines(QIODevice &device, TimeSlice *slice, const LineSink &sink,
                   const LineSpace &space) {
    LineSplitter splitter(sink);
    try {
        const QByteArray head = device.peek(3);
        if (head.startsWith("\xFF\xFE") || head.startsWith("\xFE\xFF")) {
            device.skip(2);
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
            read8Bit(device, marked, slice, splitter, space);
        }
        splitter.finish();
    } catch (const Failure &) {
        splitter.flush(); // the complete lines read so far; a cut-off line is not one
        throw;
    }
}
