// List-file decoding and line splitting: a file read whole and the same file handed over in
// small pieces (every read cut short, so every chunk boundary is tried) give the same items,
// each stored in its canonical form; without a mark, equal lines give equal items.
#include "FuzzInput.h"
#include "ReaderFakes.h"

#include <QBuffer>
#include <QHash>

namespace {
// The lines as written out plainly: CR, LF and CR LF end one; nothing after the last end
// gives no line.
QByteArrayList cut(const QByteArray &bytes) {
    QByteArrayList lines;
    QByteArray line;
    for (qsizetype i = 0; i < bytes.size(); ++i) {
        if (bytes[i] != '\r' && bytes[i] != '\n') {
            line += bytes[i];
            continue;
        }
        if (bytes[i] == '\r' && i + 1 < bytes.size() && bytes[i + 1] == '\n')
            ++i;
        lines << line;
        line.clear();
    }
    if (!line.isEmpty())
        lines << line;
    return lines;
}
} // namespace

extern "C" int LLVMFuzzerTestOneInput(const unsigned char *data, size_t size) {
    FuzzInput input(data, size);
    const qint64 piece = 1 + input.byte() % 16;
    const QByteArray bytes = input.rest();

    QBuffer whole;
    whole.setData(bytes);
    whole.open(QIODevice::ReadOnly);
    bool canonical = false;
    const QStringList items = readItems(whole, &canonical);
    FUZZ_CHECK(canonical);
    Pipe pieces(bytes, -1, piece);
    FUZZ_CHECK(readItems(pieces, &canonical) == items);
    FUZZ_CHECK(canonical);

    for (const QString &item : items)
        FUZZ_CHECK(!item.contains(u'\r') && !item.contains(u'\n'));
    const bool unmarked = !bytes.startsWith("\xFF\xFE") && !bytes.startsWith("\xFE\xFF") &&
                          !bytes.startsWith("\xEF\xBB\xBF");
    if (unmarked) {
        const QByteArrayList lines = cut(bytes);
        FUZZ_CHECK(lines.size() == items.size());
        QHash<QByteArray, QString> seen;
        for (qsizetype i = 0; i < lines.size(); ++i) {
            FUZZ_CHECK(seen.value(lines[i], items[i]) == items[i]);
            seen.insert(lines[i], items[i]);
        }
    }
    // Plain ASCII without line ends or marks is one item holding it all.
    bool plain = !bytes.startsWith("\xFF\xFE") && !bytes.startsWith("\xFE\xFF");
    for (char c : bytes)
        plain = plain && uchar(c) < 0x80 && c != '\r' && c != '\n';
    if (plain)
        FUZZ_CHECK(items ==
                   (bytes.isEmpty() ? QStringList{} : QStringList{QString::fromLatin1(bytes)}));
    return 0;
}
