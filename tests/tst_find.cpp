#include "TestSupport.h"

#include "engine/core/TimeSlice.h"
#include "engine/find/DuplicateFinder.h"
#include "engine/list/ListFileReader.h"
#include "engine/spill/SpillFinder.h"
#include "engine/store/TextListModel.h"

#include <QDir>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QTemporaryFile>
#include <QTest>
#include <QThread>
#include <QTimer>

namespace {
TextStore storeOf(const QStringList &texts) {
    TextStore store;
    for (const QString &t : texts)
        store.append(t);
    return store;
}

// The rows found; announced is false when the space announced before them was not exactly
// what came.
QStringList find(const QStringList &items, bool *announced = nullptr, FindHash hash = nullptr) {
    TextStore rows;
    qsizetype rowSpace = -1, byteSpace = -1;
    findDuplicates(
        storeOf(items), nullptr, [&](const TextStore &batch) { rows.append(batch); },
        [&](qsizetype r, qsizetype b) {
            rowSpace = r;
            byteSpace = rows.isEmpty() ? b : -1;
        },
        {0, hash});
    if (announced)
        *announced = rowSpace == rows.size() && byteSpace == qsizetype(rows.textBytes());
    return textsOf(rows);
}

// The plain pairwise scan the finder must agree with, row for row.
QStringList pairwiseScan(const QStringList &items) {
    QList<int> matchedPositions{0};
    QStringList rows;
    const int n = int(items.size());
    for (int i = 1; i <= n; ++i) {
        bool matched = false;
        for (int p : matchedPositions)
            if (p == i)
                matched = true;
        if (matched)
            continue;
        const QString v = items[i - 1];
        for (int j = i + 1; j <= n; ++j) {
            const QString w = items[j - 1];
            if (w != v)
                continue;
            QString trimmed = v;
            while (trimmed.startsWith(QLatin1Char(' ')))
                trimmed.remove(0, 1);
            while (trimmed.endsWith(QLatin1Char(' ')))
                trimmed.chop(1);
            if (trimmed.isEmpty())
                continue;
            rows << w;
            matchedPositions << j;
            break;
        }
    }
    return rows;
}

// Hashes that make the index work hard: few distinct tags, so texts that differ look alike
// until compared; and one that puts every value into the first part of the hash space.
std::uint64_t fewTags(QByteArrayView text) {
    return std::uint64_t(qHashBits(text.data(), size_t(text.size()))) & 0xF0000000FFFFFFFF;
}
std::uint64_t allInFirstPart(QByteArrayView text) {
    return std::uint64_t(qHashBits(text.data(), size_t(text.size()))) & 0x0FFFFFFFFFFFFFFF;
}
// Every value's probe starts at the last slot of its table, so it goes on from the first.
std::uint64_t lastSlot(QByteArrayView text) {
    return std::uint64_t(qHashBits(text.data(), size_t(text.size()))) | 0xFFFFFFFF;
}
// The finder's own hash, in a table that puts in others.
void *const Xxh3 = nullptr;
// Every text alike until compared.
std::uint64_t oneHash(QByteArrayView) {
    return 0x5EED5EED5EED5EED;
}
// x and y alike until compared, the others apart.
std::uint64_t xAndYAlike(QByteArrayView text) {
    return text == "x" || text == "y" ? oneHash(text)
                                      : std::uint64_t(qHashBits(text.data(), size_t(text.size())));
}
} // namespace

class FindTest : public QObject {
    Q_OBJECT
private slots:
    void pairs_data();
    void pairs();
    void agreesWithPairwiseScan();
    void threadsAgree_data();
    void threadsAgree();
    void spilledAgree_data();
    void spilledAgree();
    void equalBytesFound_data();
    void equalBytesFound();
};

void FindTest::pairs_data() {
    QTest::addColumn<QStringList>("items");
    QTest::addColumn<QStringList>("rows");
    QTest::addColumn<void *>("hash");
    QTest::newRow("one item") << QStringList{"a"} << QStringList{} << Xxh3;
    QTest::newRow("all distinct") << QStringList{"a", "b", "c"} << QStringList{} << Xxh3;
    QTest::newRow("a a") << QStringList{"a", "a"} << QStringList{"a"} << Xxh3;
    QTest::newRow("three a") << QStringList(3, "a") << QStringList{"a"} << Xxh3;
    QTest::newRow("four a") << QStringList(4, "a") << QStringList{"a", "a"} << Xxh3;
    QTest::newRow("five a") << QStringList(5, "a") << QStringList{"a", "a"} << Xxh3;
    QTest::newRow("a b a b") << QStringList{"a", "b", "a", "b"} << QStringList{"a", "b"} << Xxh3;
    QTest::newRow("b a a b") << QStringList{"b", "a", "a", "b"} << QStringList{"b", "a"} << Xxh3;
    QTest::newRow("probes past the table's end")
        << QStringList{"a", "b", "c", "b", "a", "c", "d"} << QStringList{"a", "b", "c"}
        << reinterpret_cast<void *>(&lastSlot);
    QTest::newRow("case differs") << QStringList{"Apple", "apple"} << QStringList{} << Xxh3;
    QTest::newRow("trailing space") << QStringList{"abc", "abc "} << QStringList{} << Xxh3;
    QTest::newRow("leading space kept") << QStringList{" x", " x"} << QStringList{" x"} << Xxh3;
    QTest::newRow("blanks") << QStringList{"", "", "   ", "   "} << QStringList{} << Xxh3;
    QTest::newRow("samples") << QStringList{"red", "orange", "Purple", "orange", "purple", "orange"}
                             << QStringList{"orange"} << Xxh3;
    QTest::newRow("tab is not blank") << QStringList{"\t", "\t"} << QStringList{"\t"} << Xxh3;
    QTest::newRow("non-ASCII") << QStringList{"é", "e\u0301", "é", "😀", "😀"}
                               << QStringList{"é", "😀"} << Xxh3;
    QTest::newRow("lone surrogates differ")
        << QStringList{QString(QChar(0xD800)), QString(QChar(0xD801)), QString(QChar(0xD800))}
        << QStringList{QString(QChar(0xD800))} << Xxh3;
    QTest::newRow("NUL inside") << QStringList{QString::fromUtf8("a\0b", 3), "a",
                                               QString::fromUtf8("a\0b", 3)}
                                << QStringList{QString::fromUtf8("a\0b", 3)} << Xxh3;
    // Each length's texts differ from its last two in one byte, anywhere, and look alike.
    QStringList apart, kept;
    for (int length = 1; length <= 40; ++length) {
        const QString text(length, QLatin1Char('a'));
        for (int at = 0; at < length; ++at)
            apart << QString(text).replace(at, 1, QLatin1Char('b'));
        apart << text << text;
        kept << text;
    }
    QTest::newRow("one byte apart, every length")
        << apart << kept << reinterpret_cast<void *>(&oneHash);
    QStringList pairs, copies;
    for (int i = 0; i < 70; ++i) {
        const QString value = QStringLiteral("p%1").arg(i);
        pairs << value;
        copies << value << value;
    }
    // More tag matches than are held back for comparing, only the first of them false.
    QTest::newRow("x and y alike until compared, then 70 pairs")
        << QStringList{"x", "y"} + copies << pairs << reinterpret_cast<void *>(&xAndYAlike);
}

void FindTest::pairs() {
    QFETCH(QStringList, items);
    QFETCH(QStringList, rows);
    QFETCH(void *, hash);
    QCOMPARE(find(items, nullptr, reinterpret_cast<FindHash>(hash)), rows);
}

void FindTest::agreesWithPairwiseScan() {
    const QStringList pool = {"a", "A", "a ", " a", "", " ", "   ", "b", "ab", "é", "😀", "x y"};
    QRandomGenerator random(20261207);
    for (int round = 0; round < 400; ++round) {
        const int size = random.bounded(0, 120);
        const int kinds = random.bounded(1, int(pool.size()) + 1);
        QStringList items;
        for (int i = 0; i < size; ++i)
            items << pool[random.bounded(kinds)];
        bool announced = false;
        QCOMPARE(find(items, &announced), pairwiseScan(items));
        QVERIFY(announced);
    }
}

void FindTest::threadsAgree_data() {
    QTest::addColumn<int>("threads");
    QTest::addColumn<void *>("hash");
    QTest::addColumn<bool>("slowSink"); // one large list whose rows are taken slowly
    QTest::newRow("2 threads") << 2 << Xxh3 << false;
    QTest::newRow("3 threads") << 3 << Xxh3 << false;
    QTest::newRow("1 thread, few tags") << 1 << reinterpret_cast<void *>(&fewTags) << false;
    QTest::newRow("2 threads, few tags") << 2 << reinterpret_cast<void *>(&fewTags) << false;
    QTest::newRow("2 threads, all in one part")
        << 2 << reinterpret_cast<void *>(&allInFirstPart) << false;
    QTest::newRow("2 threads, slow sink") << 2 << Xxh3 << true;
}

// Every way of splitting the work gives the single-threaded rows, in the same order.
void FindTest::threadsAgree() {
    QFETCH(int, threads);
    QFETCH(void *, hash);
    QFETCH(bool, slowSink);
    QRandomGenerator random(20261208);
    for (int round = 0; round < (slowSink ? 1 : 4); ++round) {
        const int size = slowSink ? 2000000 : random.bounded(2000, 40000);
        // The first round has nearly all values distinct: a part given them all must grow.
        const int distinct = slowSink ? size / 2 : round == 0 ? size * 4 : random.bounded(1, size);
        TextStore items;
        for (int i = 0; i < size; ++i)
            items.append(random.bounded(50) == 0
                             ? QString()
                             : QStringLiteral("v%1").arg(random.bounded(distinct)));
        qsizetype largestBatch = 0;
        int unevenBatches = 0; // followed by another, yet not whole chunks of rows
        int asked = 0;         // for room for the rows
        auto rowsOf = [&](const FindTuning &tuning) {
            TextStore rows;
            asked = 0;
            findDuplicates(
                items, nullptr,
                [&](const TextStore &batch) {
                    unevenBatches += rows.size() % TextStore::ChunkItems != 0;
                    rows.append(batch);
                    largestBatch = std::max(largestBatch, batch.size());
                    if (slowSink)
                        QThread::msleep(20);
                },
                // Short of memory while the dealt copies are held: asked again once they are
                // gone.
                [&](qsizetype, qsizetype) {
                    if (asked++ == 0)
                        throw std::bad_alloc();
                },
                tuning);
            return textsOf(rows);
        };
        const QStringList single = rowsOf({1, nullptr});
        QVERIFY(!single.isEmpty());
        largestBatch = 0;
        QCOMPARE(rowsOf({threads, reinterpret_cast<FindHash>(hash)}), single);
        QCOMPARE(asked, 2);
        // So the list takes each batch's chunks as they are.
        QCOMPARE(unevenBatches, 0);
        // A list that takes its rows slowly still gets them in small batches as they are
        // built, not all at the end: they are never all held twice.
        if (slowSink)
            QVERIFY2(largestBatch <= single.size() / 4,
                     qPrintable(QStringLiteral("%1 of %2").arg(largestBatch).arg(single.size())));
    }
}

// Lines numbered from 0 to distinct - 1, scattered.
QByteArrayList numbered(int count, int distinct) {
    QByteArrayList lines;
    for (int i = 0; i < count; ++i)
        lines << "s" + QByteArray::number(qint64(i) * 7919 % distinct);
    return lines;
}

void FindTest::spilledAgree_data() {
    QTest::addColumn<QByteArrayList>("lines");
    QTest::addColumn<qint64>("budget");
    QTest::addColumn<void *>("hash");
    QTest::addColumn<int>("threads");
    const QByteArrayList list = numbered(200000, 70000);
    for (const qint64 budget : {qint64(64) << 10, qint64(1) << 20, qint64(1) << 30})
        QTest::addRow("budget %lld", budget) << list << budget << Xxh3 << 2;
    QTest::newRow("one thread") << list << qint64(64 << 10) << Xxh3 << 1;
    QTest::newRow("all alike until compared")
        << numbered(12000, 3000) << qint64(64 << 10) << reinterpret_cast<void *>(&oneHash) << 2;
    // Long lines, some kept aside by the store, repeated chunks apart, and a huge one.
    QByteArrayList far = numbered(30000, 9000);
    for (int i = 0; i < 30000; i += 2500) {
        far[i] = QByteArray(300, 'l') + QByteArray::number(i / 2500 % 3);
        far[i + 1] = QByteArray(5000, 'k') + QByteArray::number(i / 2500 % 2);
    }
    const QByteArray huge(3 << 20, 'h');
    QTest::newRow("long lines chunks apart, one huge")
        << far + QByteArrayList{huge, "h", huge, huge} << qint64(64 << 10) << Xxh3 << 2;
    QByteArrayList blanks;
    for (int i = 0; i < 30000; ++i)
        blanks << (i % 3 == 0   ? QByteArray()
                   : i % 3 == 1 ? "  "
                                : "b" + QByteArray::number(i % 97));
    QTest::newRow("blank lines") << blanks << qint64(64 << 10) << Xxh3 << 2;
}

// Partitioned through temporary files, a list gives the rows it gives in memory, in order.
void FindTest::spilledAgree() {
    QFETCH(QByteArrayList, lines);
    QFETCH(qint64, budget);
    QFETCH(void *, hash);
    QFETCH(int, threads);
    TextStore items;
    for (const QByteArray &line : std::as_const(lines))
        items.appendBytes(line);
    TextStore inMemory;
    findDuplicates(items, nullptr, [&](const TextStore &rows) { inMemory.append(rows); });
    QVERIFY(!inMemory.isEmpty());

    QTemporaryDir folder;
    SpillFinder spilled(folder.path(), budget,
                        inMemoryNeed(items.size(), qint64(items.textBytes())),
                        {.threads = threads, .hash = reinterpret_cast<FindHash>(hash)});
    // In batches, as a file is read.
    for (qsizetype first = 0; first < items.size(); first += 1000) {
        TextStore batch;
        for (qsizetype i = first; i < std::min(items.size(), first + 1000); ++i)
            batch.appendBytes(items.bytes(i));
        spilled.add(batch);
    }
    TextStore rows;
    qsizetype partitions = 0;
    spilled.finish([&](const TextStore &batch) { rows.append(batch); },
                   [&](qsizetype, qsizetype total) { partitions = total; });
    QCOMPARE(rows.size(), inMemory.size());
    QVERIFY(textsOf(rows) == textsOf(inMemory));
    QVERIFY(partitions >= 1);
    QVERIFY(QDir(folder.path()).isEmpty());
}

void FindTest::equalBytesFound_data() {
    QTest::addColumn<QByteArray>("file");
    QTest::addColumn<QStringList>("rows");
    QByteArray between;
    for (int i = 0; i < 1000000; ++i)
        between += "n" + QByteArray::number(i) + "\r\n";
    QTest::newRow("a stray byte a million lines on")
        << "caf\xC3\xA9\r\n" + between + "it\x92s\r\ncaf\xC3\xA9\r\n"
        << QStringList{QStringLiteral("caf\u00E9")};
}

// Equal lines of a file, as the reader hands them over, are found equal whatever the lines
// between them hold.
void FindTest::equalBytesFound() {
    QFETCH(QByteArray, file);
    QFETCH(QStringList, rows);
    QTemporaryFile disk;
    QVERIFY(disk.open() && disk.write(file) == file.size() && disk.seek(0));
    TextStore items;
    readListLines(disk, nullptr, [&](const TextStore &lines) { items.append(lines); });
    TextStore found;
    findDuplicates(items, nullptr, [&](const TextStore &batch) { found.append(batch); });
    QCOMPARE(textsOf(found), rows);
}

QTEST_MAIN(FindTest)
#include "tst_find.moc"
