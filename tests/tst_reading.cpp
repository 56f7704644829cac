// The list file reader on its own: line ends, encodings, read failures, path forms.
#include "ReaderFakes.h"
#include "TestSupport.h"

#include "engine/core/ErrorReport.h"
#include "engine/list/ListFileReader.h"
#include "engine/list/NormalizePath.h"

#include <QTemporaryFile>
#include <QTest>

#include <memory>
#include <vector>

class ReadingTest : public QObject {
    Q_OBJECT
private slots:
    void lineEndsAndEncodings_data();
    void lineEndsAndEncodings();
    void readFailureKeepsCompleteLines_data();
    void readFailureKeepsCompleteLines();
    void normalizePath_data();
    void normalizePath();
};

void ReadingTest::lineEndsAndEncodings_data() {
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QStringList>("items");
    const QString smiley = QStringLiteral("\U0001F600");

    QTest::newRow("CR LF, empty line") << QByteArray("a\r\n\r\nb") << QStringList{"a", "", "b"};
    QTest::newRow("LF only") << QByteArray("a\nb\n") << QStringList{"a", "b"};
    QTest::newRow("CR only") << QByteArray("a\rb\r\rc") << QStringList{"a", "b", "", "c"};
    QTest::newRow("mixed") << QByteArray("a\rb\nc\r\nd\n\re")
                           << QStringList{"a", "b", "c", "d", "", "e"};
    QTest::newRow("trailing CR LF") << QByteArray("a\r\n") << QStringList{"a"};
    QTest::newRow("two trailing CR LF") << QByteArray("a\r\n\r\n") << QStringList{"a", ""};
    QTest::newRow("only a line end") << QByteArray("\r\n") << QStringList{""};
    QTest::newRow("zero bytes") << QByteArray() << QStringList{};

    QTest::newRow("UTF-8") << QByteArray("caf\xC3\xA9\r\n\xE2\x82\xAC")
                           << QStringList{QStringLiteral("caf\u00E9"), QStringLiteral("\u20AC")};
    QTest::newRow("UTF-8 with BOM")
        << QByteArray("\xEF\xBB\xBF\xC3\xA9\r\nb") << QStringList{QStringLiteral("\u00E9"), "b"};
    QTest::newRow("mark at the start of a later line")
        << QByteArray("a\r\n\xEF\xBB\xBF\xEF\xBB\xBF"
                      "b")
        << QStringList{"a", QStringLiteral("\uFEFF\uFEFFb")};
    QTest::newRow("UTF-8 BOM only") << QByteArray("\xEF\xBB\xBF") << QStringList{};
    const QString wide = QStringLiteral("a") + smiley + QStringLiteral("\r\n\u00E9\r\n");
    const QStringList wideItems{QStringLiteral("a") + smiley, QStringLiteral("\u00E9")};
    QTest::newRow("UTF-16 LE") << withBom(QStringConverter::Utf16LE, wide) << wideItems;
    QTest::newRow("UTF-16 BE") << withBom(QStringConverter::Utf16BE, wide) << wideItems;
    QTest::newRow("UTF-16, lone surrogate")
        << withBom(QStringConverter::Utf16LE, QString(QChar(0xDC00)) + QStringLiteral("x\r\ny"))
        << QStringList{QString(QChar(0xDC00)) + QStringLiteral("x"), "y"};
    QTest::newRow("UTF-16 LE, five bytes") << QByteArray("\xFF\xFE"
                                                         "abc")
                                           << QStringList{QStringLiteral("\u6261\uFFFD")};
    QTest::newRow("UTF-16 LE, odd byte at end") << QByteArray("\xFF\xFE"
                                                              "a\0b",
                                                              5)
                                                << QStringList{QStringLiteral("a\uFFFD")};

    QTest::newRow("Windows-1252") << QByteArray("\x80\xE9\r\n\x81\x8D\x8F\x90\x9D\r\n\x9F\xA0")
                                  << QStringList{
                                         QStringLiteral("\u20AC\u00E9"),
                                         QString::fromUtf16(u"\u0081\u008D\u008F\u0090\u009D"),
                                         QStringLiteral("\u0178\u00A0")};
    QTest::newRow("each line decoded on its own")
        << QByteArray("caf\xC3\xA9\r\n\xE9t\xE9\r\ncaf\xC3\xA9")
        << QStringList{QStringLiteral("caf\u00E9"), QStringLiteral("\u00E9t\u00E9"),
                       QStringLiteral("caf\u00E9")};
    QTest::newRow("invalid UTF-8 after the first chunk")
        << QByteArray("\xC3\xA9\r\n") + xs(Chunk + 100) + "\r\n\xFF"
        << QStringList{QStringLiteral("\u00E9"), QString(xs(Chunk + 100)),
                       QStringLiteral("\u00FF")};
    // Several blocks long.
    const QByteArray zLine = QByteArray(998, 'z') + "\r\n";
    QTest::newRow("Windows-1252 at the start of a long file")
        << QByteArray("\xE9\r\n") + zLine.repeated(5000) + "caf\xC3\xA9"
        << QStringList{QStringLiteral("\u00E9")} + QStringList(5000, QString(998, u'z')) +
               QStringList{QStringLiteral("caf\u00E9")};
    QTest::newRow("UTF-8 mark, stray bytes")
        << QByteArray("\xEF\xBB\xBF"
                      "caf\xC3\xA9\r\n\xFF\x80")
        << QStringList{QStringLiteral("caf\u00E9"), QStringLiteral("\u00FF\u20AC")};
    QTest::newRow("UTF-8 mark, lead byte before ASCII") << QByteArray("\xEF\xBB\xBF"
                                                                      "\xC3"
                                                                      "A")
                                                        << QStringList{QStringLiteral("\u00C3A")};
    QTest::newRow("UTF-8 mark, cut-off sequence at end")
        << QByteArray("\xEF\xBB\xBF"
                      "a\xE2\x82")
        << QStringList{QStringLiteral("a\u00E2\u201A")};
    QTest::newRow("UTF-8 mark, a line not UTF-8, a sequence cut off at end")
        << QByteArray("\xEF\xBB\xBF\xC3\x41\r\n\xE2\x82")
        << QStringList{QStringLiteral("\u00C3A"), QStringLiteral("\u00E2\u201A")};
    QTest::newRow("UTF-8 mark, stray byte, char across chunks")
        << QByteArray("\xEF\xBB\xBF\xFF") + xs(Chunk - 2) + "\xE2\x82\xAC"
        << QStringList{QStringLiteral("\u00FF") + QString(xs(Chunk - 2)) +
                       QStringLiteral("\u20AC")};
    QTest::newRow("UTF-8 sequence cut off at end")
        << QByteArray("ab\xC3") << QStringList{QStringLiteral("ab\u00C3")};
    QTest::newRow("NUL inside a line")
        << QByteArray("a\0b\r\nc", 6) << QStringList{QString::fromLatin1("a\0b", 3), "c"};

    // Lines of 1 to 5 letters ending in CR LF, CR and LF by turns: each kind of line end
    // falls on every place of the 32 bytes the cutter looks at in one go.
    QByteArray everyPlace;
    QStringList everyPlaceLines;
    for (int i = 0; i < 480; ++i) {
        const QByteArray line(1 + i % 5, char('a' + i % 26));
        everyPlace += line + (i % 3 == 0 ? "\r\n" : i % 3 == 1 ? "\r" : "\n");
        everyPlaceLines << QString::fromLatin1(line);
    }
    QTest::newRow("line ends at every place") << everyPlace << everyPlaceLines;

    // The reader works in chunks of 1 MiB; nothing may depend on where they end.
    const QString longLine = QString(xs(Chunk - 1));
    QTest::newRow("CR LF across chunks") << xs(Chunk - 1) + "\r\ny" << QStringList{longLine, "y"};
    QTest::newRow("CR, then CR in next chunk")
        << xs(Chunk - 1) + "\r\ry" << QStringList{longLine, "", "y"};
    QTest::newRow("CR, then text in next chunk")
        << xs(Chunk - 1) + "\ry" << QStringList{longLine, "y"};
    QTest::newRow("Windows-1252, CR LF across chunks")
        << "\xE9" + xs(Chunk - 2) + "\r\ny"
        << QStringList{QStringLiteral("\u00E9") + QString(xs(Chunk - 2)), "y"};
    QTest::newRow("Windows-1252 ending a chunk, its line ended in the next")
        << xs(Chunk - 3) + "\r\n\xE9y\r\nz"
        << QStringList{QString(xs(Chunk - 3)), QStringLiteral("\u00E9y"), "z"};
    QTest::newRow("UTF-8 char across chunks")
        << xs(Chunk - 1) + "\xE2\x82\xAC\r\nz"
        << QStringList{longLine + QStringLiteral("\u20AC"), "z"};
    QTest::newRow("UTF-8 four-byte char across chunks")
        << xs(Chunk - 2) + "\xF0\x9F\x98\x80" << QStringList{QString(xs(Chunk - 2)) + smiley};
    // With the BOM skipped, the first chunk ends after UTF-16 unit Chunk / 2 - 1.
    const QString wideLine(Chunk / 2 - 1, QLatin1Char('x'));
    QTest::newRow("UTF-16 CR LF across chunks")
        << withBom(QStringConverter::Utf16LE, wideLine + QStringLiteral("\r\ny"))
        << QStringList{wideLine, "y"};
    QTest::newRow("UTF-16 surrogate pair across chunks")
        << withBom(QStringConverter::Utf16LE, wideLine + smiley + QStringLiteral("\r\nz"))
        << QStringList{wideLine + smiley, "z"};
}

// From a file, surveyed then read, from a pipe, read once, from a file on disk, and, when
// short, from pipes handing over 1 to 16 bytes at a time.
void ReadingTest::lineEndsAndEncodings() {
    QFETCH(QByteArray, bytes);
    QFETCH(QStringList, items);
    QBuffer buffer(&bytes);
    QVERIFY(buffer.open(QIODevice::ReadOnly));
    Pipe pipe(bytes);
    QTemporaryFile file;
    QVERIFY(file.open() && file.write(bytes) == bytes.size() && file.seek(0));
    std::vector<std::unique_ptr<Pipe>> pieces;
    for (qint64 piece = 1; piece <= 16 && bytes.size() <= 4096; ++piece)
        pieces.push_back(std::make_unique<Pipe>(bytes, -1, piece));
    QList<QIODevice *> devices{&buffer, &pipe, &file};
    for (const auto &p : pieces)
        devices << p.get();
    for (QIODevice *device : devices) {
        bool canonical = false;
        const QStringList read = readItems(*device, &canonical);
        QCOMPARE(read.size(), items.size());
        for (qsizetype i = 0; i < items.size(); ++i)
            QCOMPARE(read[i], items[i]); // one by one: long lines make whole-list output unreadable
        QVERIFY(canonical);
    }
}

void ReadingTest::readFailureKeepsCompleteLines_data() {
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<qint64>("failAt"); // where the device fails
    QTest::addColumn<int>("refused");   // the batch the list refuses, from 1; 0: none
    QTest::addColumn<QStringList>("items");
    QTest::newRow("UTF-8") << QByteArray("one\r\ntwo\r\nthree\r\n") << qint64(13) << 0
                           << QStringList{"one", "two"};
    QTest::newRow("UTF-16") << withBom(QStringConverter::Utf16LE,
                                       QStringLiteral("one\r\ntwo\r\nthree\r\n"))
                            << qint64(2 + 2 * 13) << 0 << QStringList{"one", "two"};
    QTest::newRow("Windows-1252") << QByteArray("\xE9\r\ntwo\r\nthree\r\n") << qint64(11) << 0
                                  << QStringList{QStringLiteral("\u00E9"), "two"};
    QByteArray many;
    for (int i = 0; i < 100000; ++i)
        many += "x\r\n";
    QTest::newRow("after the first chunk")
        << many << qint64(3 * 96000 + 1) << 0 << QStringList(96000, QStringLiteral("x"));
    // The list refuses the second batch (memory): it keeps the lines before it, and none of
    // the lines read after it follow them.
    QByteArray numbered;
    QStringList all;
    for (int i = 0; i < 300000; ++i) {
        all << QString::number(i);
        numbered += QByteArray::number(i) + "\r\n";
    }
    QTest::newRow("the list refuses a batch")
        << numbered << qint64(numbered.size() + 1) << 2 << all;
}

void ReadingTest::readFailureKeepsCompleteLines() {
    QFETCH(QByteArray, bytes);
    QFETCH(qint64, failAt);
    QFETCH(int, refused);
    QFETCH(QStringList, items);
    FailingBuffer file(bytes, failAt);
    Pipe pipe(bytes, failAt);
    for (QIODevice *device : {static_cast<QIODevice *>(&file), static_cast<QIODevice *>(&pipe)}) {
        QStringList read;
        int batches = 0;
        QVERIFY_THROWS_EXCEPTION(Failure,
                                 readListLines(*device, nullptr, [&](const TextStore &lines) {
                                     if (++batches == refused)
                                         throw Failure(QStringLiteral("Out of memory"));
                                     for (qsizetype i = 0; i < lines.size(); ++i)
                                         read << lines.text(i);
                                 }));
        if (refused) // the lines before the refused batch, and no others
            QVERIFY(!read.isEmpty() && read.size() < items.size() &&
                    read == items.first(read.size()));
        else
            QCOMPARE(read, items);
    }
}

void ReadingTest::normalizePath_data() {
    QTest::addColumn<QString>("path");
    QTest::addColumn<QChar>("separator");
    QTest::addColumn<QString>("normalized");
    const QChar back('\\'), slash('/');
    auto row = [](const char *name, const char *path, QChar separator, const char *normalized) {
        QTest::newRow(name) << QString::fromLatin1(path) << separator
                            << QString::fromLatin1(normalized);
    };
    row("drive root, doubled", "C:\\\\x.txt", back, "C:\\x.txt");
    row("already tidy", "C:\\a\\b.txt", back, "C:\\a\\b.txt");
    row("three inside", "C:\\a\\\\\\b.txt", back, "C:\\a\\\\b.txt");
    row("four inside", "C:\\a\\\\\\\\b.txt", back, "C:\\a\\\\b.txt");
    row("network path", "\\\\server\\share\\f.txt", back, "\\\\server\\share\\f.txt");
    row("three leading", "\\\\\\server\\share\\\\f.txt", back, "\\\\server\\share\\f.txt");
    row("one leading", "\\x.txt", back, "\\\\x.txt");
    row("trailing pair", "C:\\dir\\\\", back, "C:\\dir\\");
    row("no separator", "x.txt", back, "x.txt");
    row("empty", "", back, "");
    row("slash, doubled", "/home//u/x.txt", slash, "/home/u/x.txt");
    row("slash, three leading", "///srv//f.txt", slash, "/srv/f.txt");
    row("slash, root joined", "//bin", slash, "/bin");
    row("slash, relative", "a//b///c", slash, "a/b//c");
    row("slash leaves backslashes", "a\\\\b", slash, "a\\\\b");
}

void ReadingTest::normalizePath() {
    QFETCH(QString, path);
    QFETCH(QChar, separator);
    QFETCH(QString, normalized);
    QCOMPARE(NormalizePath(path, separator), normalized);
}

QTEST_MAIN(ReadingTest)

#include "tst_reading.moc"
