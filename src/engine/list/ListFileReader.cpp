#include "ListFileReader.h"

#include "engine/core/ErrorReport.h"
#include "engine/core/TimeSlice.h"
#include "engine/store/TextStoreFiller.h"
#include "LineCutter.h"
#include "TextDecoding.h"

#include <QStringDecoder>

#include <functional>
#include <optional>
#include <utility>

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

// Reads a device block by block. A read that fails after some bytes came in first hands over
// those bytes and throws on the next call.
class BlockReader {
public:
    explicit BlockReader(QIODevice &device) : device_(device) {}

    // An empty block at the end.
    const QByteArray &next() {
        if (failure_)
            throw *failure_;
        const qsizetype wanted = BlockSize;
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
        const qint64 got = device_.read(data, size);
        if (got < 0)
            failure_ =
                Failure(device_.errorString().isEmpty() ? QStringLiteral("Input past end of file")
                                                        : device_.errorString());
        return got;
    }

    QIODevice &device_;
    QByteArray block_;
    std::optional<Failure> failure_;
    qint64 total_ = 0;
};

// After each block, with how far reading has come in bytes. Batches hold the whole chunks
// of about a block, which the list takes as they are; the list's view keeps nothing per row,
// so telling it of rows often costs nothing.
void yieldAndHandOver(TimeSlice *slice, LineSplitter &splitter, qint64 done) {
    splitter.flushWhole();
    if (slice)
        slice->turnIfDue(done);
}

// Reads 8-bit text once, handing lines over as they come, so that an item added meanwhile
// lands among them. The lines a file's first block holds per byte stand for the whole file
// when room is made for it; its text takes no more bytes than the file.
void read8Bit(QIODevice &device, TimeSlice *slice, LineSplitter &splitter, const LineSpace &space) {
    const qint64 size = device.isSequential() ? -1 : device.size() - device.pos();
    BlockReader reader(device);
    for (bool first = true;; first = false) {
        const QByteArray &block = reader.next();
        if (block.isEmpty())
            break;
        if (first && size > 0 && space) {
            LineCounter sample;
            sample.feed(block);
            const qint64 lines =
                block.size() >= size
                    ? sample.lines()
                    : qint64(double(sample.lines()) * double(size) / double(block.size()) * 1.125) +
                          1;
            space(qsizetype(lines), qsizetype(size));
        }
        splitter.feed(block);
        yieldAndHandOver(slice, splitter, reader.total());
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
            read8Bit(device, slice, splitter, space);
        }
        splitter.finish();
    } catch (const Failure &) {
        splitter.flush(); // the complete lines read so far; a cut-off line is not one
        throw;
    }
}
