#include "TestSupport.h"

#include "engine/core/TimeSlice.h"
#include "engine/find/DuplicateFinder.h"
#include "engine/find/PartitionPairer.h"
#include "engine/store/TextListModel.h"

#include <QMap>
#include <QTest>
#include <QThread>
#include <QTimer>

namespace {
// A list large enough that a search takes many time slices.
void fillLarge(Form1 &w, int count, int distinct) {
    TextStore items;
    for (int i = 0; i < count; ++i)
        items.append(QStringLiteral("item %1").arg(i % distinct));
    w.inputList().appendItems(items);
}

// Counts the texts hashed, so a turn can tell which pass over the list it came in.
int hashed = 0;
std::uint64_t countingHash(QByteArrayView text) {
    ++hashed;
    return qHash(text);
}
} // namespace

class FindCommandTest : public QObject {
    Q_OBJECT
private slots:
    void startFinding();
    void emptyList();
    void secondStartDuringRunIsIgnored();
    void otherCommandsDuringRun();
    void yieldsWhileCounting_data();
    void yieldsWhileCounting();
};

void FindCommandTest::startFinding() {
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

void FindCommandTest::emptyList() {
    Harness h;
    h.w().setMousePointer(Form1::PointerCustom);
    h.button("PushButton4")->click();
    QCOMPARE(h.dialogs.messageTexts(), QStringList{"No files added."});
    QCOMPARE(h.dialogs.shown.first().title, QStringLiteral("Quorvel"));
    QCOMPARE(h.w().mousePointer(), Form1::PointerCustom);
    QCOMPARE(h.w().resultsList().itemCount(), 0);
    QVERIFY(!h.w().busyFlag());
}

void FindCommandTest::secondStartDuringRunIsIgnored() {
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
void FindCommandTest::otherCommandsDuringRun() {
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

void FindCommandTest::yieldsWhileCounting_data() {
    QTest::addColumn<int>("threads"); // 0: as many as pay
    QTest::addColumn<int>("items");
    QTest::newRow("threads") << 0 << 3000000;
    // On the window's own thread: turns while hashing, and in the pairing.
    QTest::newRow("one thread") << 1 << 3000000;
}

// The window gets its turns before the first row is found, not only while rows are reported.
void FindCommandTest::yieldsWhileCounting() {
    QFETCH(int, threads);
    QFETCH(int, items);
    TextStore list;
    for (int i = 0; i < items; ++i)
        list.append(QString::number(i % (items / 2)));
    // The progress shown at each turn, which must never go back.
    struct Recorded : Progress {
        QList<qint64> shown;
        void show() override { shown << done; }
    } progress;
    const bool closing = false;
    TimeSlice slice(closing, &progress);
    bool counted = false;
    int turnsWhileCounting = 0;
    hashed = 0;
    // The progress shown at the turns of each pass: the hashing, then the pairing.
    QMap<int, QList<qint64>> passes;
    QTimer ticker;
    connect(&ticker, &QTimer::timeout, [&] {
        turnsWhileCounting += !counted;
        if (!counted)
            passes[std::min(hashed / items, 1)] << progress.done;
    });
    ticker.start(0);
    // The rows come in many batches, built by several threads: still in list order.
    qsizetype rows = 0, batches = 0, inOrder = 0;
    FindTuning tuning;
    tuning.threads = threads;
    tuning.hash = threads == 1 ? countingHash : nullptr;
    findDuplicates(
        list, &slice,
        [&](const TextStore &found) {
            ++batches;
            for (qsizetype k = 0; k < found.size(); ++k, ++rows)
                inOrder += found.bytes(k) == QByteArray::number(rows);
        },
        [&](qsizetype, qsizetype) { counted = true; }, tuning);
    QVERIFY(counted);
    QCOMPARE(rows, items / 2);
    QCOMPARE(inOrder, rows);
    QVERIFY(batches > 1);
    QVERIFY(turnsWhileCounting > 0);
    if (threads == 1) {
        // The bar moves on at an even pace: half of the finding half while the texts are
        // hashed, the other half while pairing.
        QCOMPARE(passes.keys(), QList<int>({0, 1}));
        const qint64 n = items, step = PartitionPairer::PauseEvery;
        for (const qint64 shown : std::as_const(passes[0]))
            QVERIFY(shown <= n / 2 + step);
        QVERIFY(passes[1].first() >= n / 2 - step && passes[1].first() < 3 * n / 4);
    }
    QVERIFY(std::is_sorted(progress.shown.begin(), progress.shown.end()));
    QVERIFY(progress.shown.constLast() <= 2 * list.size());
}

QTEST_MAIN(FindCommandTest)
#include "tst_findcommand.moc"
