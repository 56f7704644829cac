#include "TestSupport.h"

#include "core/TimeSlice.h"
#include "find/DuplicateFinder.h"
#include "list/TextListModel.h"

#include <QRandomGenerator>
#include <QTest>
#include <QTimer>

namespace {
TextStore storeOf(const QStringList &texts) {
    TextStore store;
    for (const QString &t : texts)
        store.append(t);
    return store;
}

QStringList textsOf(const TextStore &store) {
    QStringList texts;
    for (qsizetype i = 0; i < store.size(); ++i)
        texts << store.text(i);
    return texts;
}

// The rows found; announced is false when the space announced before them was not exactly
// what came.
QStringList find(const QStringList &items, bool *announced = nullptr) {
    TextStore rows;
    qsizetype rowSpace = -1, byteSpace = -1;
    findDuplicates(
        storeOf(items), nullptr, [&](const TextStore &batch) { rows.append(batch); },
        [&](qsizetype r, qsizetype b) {
            rowSpace = r;
            byteSpace = rows.isEmpty() ? b : -1;
        });
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

// A list large enough that a search takes many time slices.
void fillLarge(Form1 &w, int count, int distinct) {
    TextStore items;
    for (int i = 0; i < count; ++i)
        items.append(QStringLiteral("item %1").arg(i % distinct));
    w.inputList().appendItems(items);
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
    void startFinding();
    void emptyList();
    void secondStartDuringRunIsIgnored();
    void otherCommandsDuringRun();
    void yieldsWhileCounting();
};

void FindTest::pairs_data() {
    QTest::addColumn<QStringList>("items");
    QTest::addColumn<QStringList>("rows");
    QTest::newRow("one item") << QStringList{"a"} << QStringList{};
    QTest::newRow("all distinct") << QStringList{"a", "b", "c"} << QStringList{};
    QTest::newRow("a a") << QStringList{"a", "a"} << QStringList{"a"};
    QTest::newRow("three a") << QStringList(3, "a") << QStringList{"a"};
    QTest::newRow("four a") << QStringList(4, "a") << QStringList{"a", "a"};
    QTest::newRow("five a") << QStringList(5, "a") << QStringList{"a", "a"};
    QTest::newRow("a b a b") << QStringList{"a", "b", "a", "b"} << QStringList{"a", "b"};
    QTest::newRow("b a a b") << QStringList{"b", "a", "a", "b"} << QStringList{"b", "a"};
    QTest::newRow("case differs") << QStringList{"Apple", "apple"} << QStringList{};
    QTest::newRow("trailing space") << QStringList{"abc", "abc "} << QStringList{};
    QTest::newRow("leading space kept") << QStringList{" x", " x"} << QStringList{" x"};
    QTest::newRow("blanks") << QStringList{"", "", "   ", "   "} << QStringList{};
    QTest::newRow("samples") << QStringList{"red", "orange", "Purple", "orange", "purple", "orange"}
                             << QStringList{"orange"};
    QTest::newRow("tab is not blank") << QStringList{"\t", "\t"} << QStringList{"\t"};
    QTest::newRow("non-ASCII") << QStringList{"é", "e\u0301", "é", "😀", "😀"}
                               << QStringList{"é", "😀"};
    QTest::newRow("lone surrogates differ")
        << QStringList{QString(QChar(0xD800)), QString(QChar(0xD801)), QString(QChar(0xD800))}
        << QStringList{QString(QChar(0xD800))};
    QTest::newRow("NUL inside") << QStringList{QString::fromUtf8("a\0b", 3), "a",
                                               QString::fromUtf8("a\0b", 3)}
                                << QStringList{QString::fromUtf8("a\0b", 3)};
}

void FindTest::pairs() {
    QFETCH(QStringList, items);
    QFETCH(QStringList, rows);
    QCOMPARE(find(items), rows);
    QCOMPARE(pairwiseScan(items), rows);
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
    QTest::newRow("2 threads") << 2 << static_cast<void *>(nullptr);
    QTest::newRow("3 threads") << 3 << static_cast<void *>(nullptr);
    QTest::newRow("1 thread, few tags") << 1 << reinterpret_cast<void *>(&fewTags);
    QTest::newRow("2 threads, few tags") << 2 << reinterpret_cast<void *>(&fewTags);
    QTest::newRow("2 threads, all in one part") << 2 << reinterpret_cast<void *>(&allInFirstPart);
}

// Every way of splitting the work gives the single-threaded rows, in the same order.
void FindTest::threadsAgree() {
    QFETCH(int, threads);
    QFETCH(void *, hash);
    QRandomGenerator random(20261208);
    for (int round = 0; round < 4; ++round) {
        const int size = random.bounded(2000, 40000);
        // The first round has nearly all values distinct: a part given them all must grow.
        const int distinct = round == 0 ? size * 4 : random.bounded(1, size);
        TextStore items;
        for (int i = 0; i < size; ++i)
            items.append(random.bounded(50) == 0
                             ? QString()
                             : QStringLiteral("v%1").arg(random.bounded(distinct)));
        auto rowsOf = [&](const FindTuning &tuning) {
            TextStore rows;
            findDuplicates(
                items, nullptr, [&](const TextStore &batch) { rows.append(batch); }, {}, tuning);
            return textsOf(rows);
        };
        const QStringList single = rowsOf({1, nullptr});
        QVERIFY(!single.isEmpty());
        QCOMPARE(rowsOf({threads, reinterpret_cast<FindHash>(hash)}), single);
    }
}

void FindTest::startFinding() {
    Harness h;
    Form1 &w = h.w();
    w.resultsList().appendItem(QStringLiteral("earlier"));
    for (const char *t : {"b", "a", "a", "b", "b"})
        w.inputList().appendItem(QString::fromLatin1(t));
    h.button("PushButton4")->click();
    h.button("PushButton4")->click();
    QCOMPARE(textsOf(w.resultsList().store()), QStringList({"earlier", "b", "a", "b", "a"}));
    for (int row = 2; row <= 5; ++row)
        QVERIFY(w.resultsList().isChecked(row));
    QCOMPARE(h.dialogs.messageTexts(), QStringList({"Done.", "Done."}));
    const auto &done = h.dialogs.shown.first();
    QCOMPARE(done.title, QStringLiteral("Quorvel"));
    QCOMPARE(done.icon, Dialogs::Icon::None);
    QCOMPARE(done.buttons, Dialogs::Buttons::Ok);
    QCOMPARE(w.mousePointer(), 0);
    QVERIFY(!w.busyFlag());
    QCOMPARE(w.inputList().itemCount(), 5);
}

void FindTest::emptyList() {
    Harness h;
    h.w().setMousePointer(Form1::PointerCustom);
    h.button("PushButton4")->click();
    QCOMPARE(h.dialogs.messageTexts(), QStringList{"No files added."});
    QCOMPARE(h.dialogs.shown.first().title, QStringLiteral("Quorvel"));
    QCOMPARE(h.w().mousePointer(), Form1::PointerCustom);
    QCOMPARE(h.w().resultsList().itemCount(), 0);
    QVERIFY(!h.w().busyFlag());
}

void FindTest::secondStartDuringRunIsIgnored() {
    Harness h;
    Form1 &w = h.w();
    fillLarge(w, 400000, 150000);
    int pointerDuringRun = -1;
    bool flagDuringRun = false;
    QTimer::singleShot(0, &w, [&] {
        pointerDuringRun = w.mousePointer();
        flagDuringRun = w.busyFlag();
        h.button("PushButton4")->click();
    });
    h.button("PushButton4")->click();
    QCOMPARE(pointerDuringRun, int(Form1::PointerHourglass));
    QVERIFY(flagDuringRun);
    QCOMPARE(h.dialogs.messageTexts(), QStringList{"Done."});
    QCOMPARE(w.resultsList().itemCount(), 150000);
    QCOMPARE(w.mousePointer(), 0);
    QVERIFY(!w.busyFlag());
}

// Clear Results, adding items, Clear List and a drag run during a search; the search keeps to
// the list as it stood when it started, and its rows go into the emptied results.
void FindTest::otherCommandsDuringRun() {
    Harness h;
    Form1 &w = h.w();
    w.resultsList().appendItem(QStringLiteral("earlier"));
    fillLarge(w, 400000, 150000);
    QTimer::singleShot(0, &w, [&] {
        h.button("PushButton9")->click(); // Clear Results
        h.button("PushButton7")->click(); // Clear List: refused, the hourglass shows
        h.dialogs.inputs << QStringLiteral("new") << QStringLiteral("new");
        h.button("PushButton1")->click();
        h.button("PushButton1")->click();
        // A drag exchanges the first two items, beside the search's view of the list.
        ReportView *view = w.listView1();
        const auto at = [&](int row) {
            return view->visualRect(view->model()->index(row, 0)).center();
        };
        QTest::mousePress(view->viewport(), Qt::RightButton, {}, at(0));
        QTest::mouseMove(view->viewport(), at(1));
        QTest::mouseRelease(view->viewport(), Qt::RightButton, {}, at(1));
    });
    h.button("PushButton4")->click();
    QCOMPARE(w.inputList().itemCount(), 400002);
    QCOMPARE(w.inputList().itemText(1), QStringLiteral("item 1"));
    QCOMPARE(w.inputList().itemText(2), QStringLiteral("item 0"));
    QCOMPARE(w.inputList().itemText(400002), QStringLiteral("new"));
    QCOMPARE(w.resultsList().itemCount(), 150000);
    QCOMPARE(w.resultsList().itemText(1), QStringLiteral("item 0"));
    QCOMPARE(w.resultsList().itemText(150000), QStringLiteral("item 149999"));
    QCOMPARE(h.dialogs.messageTexts(), QStringList{"Done."});
}

// The window gets its turns before the first row is found, not only while rows are reported.
void FindTest::yieldsWhileCounting() {
    TextStore items;
    for (int i = 0; i < 3000000; ++i)
        items.append(QString::number(i % 1500000));
    // The progress shown at each turn, which must never go back.
    struct Recorded : Progress {
        QList<qint64> shown;
        void show() override { shown << done; }
    } progress;
    const bool closing = false;
    TimeSlice slice(closing, &progress);
    bool counted = false;
    int turnsWhileCounting = 0;
    QTimer ticker;
    connect(&ticker, &QTimer::timeout, [&] { turnsWhileCounting += !counted; });
    ticker.start(0);
    // The rows come in many batches, built by several threads: still in list order.
    qsizetype rows = 0, batches = 0, inOrder = 0;
    findDuplicates(
        items, &slice,
        [&](const TextStore &found) {
            ++batches;
            for (qsizetype k = 0; k < found.size(); ++k, ++rows)
                inOrder += found.bytes(k) == QByteArray::number(rows);
        },
        [&](qsizetype, qsizetype) { counted = true; });
    QVERIFY(counted);
    QCOMPARE(rows, 1500000);
    QCOMPARE(inOrder, rows);
    QVERIFY(batches > 1);
    QVERIFY(turnsWhileCounting > 0);
    QVERIFY(std::is_sorted(progress.shown.begin(), progress.shown.end()));
    QVERIFY(progress.shown.constLast() <= 2 * items.size());
}

QTEST_MAIN(FindTest)
#include "tst_find.moc"
