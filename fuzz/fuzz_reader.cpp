// List-file decoding and line splitting: a file read whole and the same file handed over in
// small pieces (every read cut short, so every chunk boundary is tried) give the same items,
// each stored in its canonical form.
#include "FuzzInput.h"

#include "list/ListFileReader.h"

#include <QBuffer>

namespace {
// A file whose reads return at most a few bytes at a time.
class PieceBuffer : public QBuffer {
public:
    PieceBuffer(const QByteArray &bytes, qint64 piece) : piece_(piece) {
        setData(bytes);
        open(QIODevice::ReadOnly);
    }

protected:
    qint64 readData(char *data, qint64 maxSize) override {
        return QBuffer::readData(data, std::min(maxSize, piece_));
    }

private:
    qint64 piece_;
};

QList<QByteArray> read(QIODevice &device) {
    QList<QByteArray> items;
    readListLines(device, nullptr, [&](const TextStore &lines) {
        for (qsizetype i = 0; i < lines.size(); ++i) {
            FUZZ_CHECK(lines.bytes(i) == TextStore::encode(lines.text(i)));
            items << lines.bytes(i).toByteArray();
        }
    });
    return items;
}
} // namespace

extern "C" int LLVMFuzzerTestOneInput(const unsigned char *data, size_t size) {
    FuzzInput input(data, size);
    const qint64 piece = 1 + input.byte() % 16;
    const QByteArray bytes = input.rest();

    QBuffer whole;
    whole.setData(bytes);
    whole.open(QIODevice::ReadOnly);
    const QList<QByteArray> items = read(whole);
    PieceBuffer pieces(bytes, piece);
    FUZZ_CHECK(read(pieces) == items);

    for (const QByteArray &item : items)
        FUZZ_CHECK(!item.contains('\r') && !item.contains('\n'));
    // Plain ASCII without line ends or marks is one item holding it all.
    bool plain = !bytes.startsWith("\xFF\xFE") && !bytes.startsWith("\xFE\xFF");
    for (char c : bytes)
        plain = plain && uchar(c) < 0x80 && c != '\r' && c != '\n';
    if (plain)
        FUZZ_CHECK(items == (bytes.isEmpty() ? QList<QByteArray>{} : QList<QByteArray>{bytes}));
    return 0;
}
