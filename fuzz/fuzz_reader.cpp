// List-file decoding and line splitting: a file read whole and the same file handed over in
// small pieces (every read cut short, so every chunk boundary is tried) give the same items,
// each stored in its canonical form.
#include "FuzzInput.h"
#include "ReaderFakes.h"

#include <QBuffer>

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
    // Plain ASCII without line ends or marks is one item holding it all.
    bool plain = !bytes.startsWith("\xFF\xFE") && !bytes.startsWith("\xFE\xFF");
    for (char c : bytes)
        plain = plain && uchar(c) < 0x80 && c != '\r' && c != '\n';
    if (plain)
        FUZZ_CHECK(items ==
                   (bytes.isEmpty() ? QStringList{} : QStringList{QString::fromLatin1(bytes)}));
    return 0;
}
