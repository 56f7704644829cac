#include "TestSupport.h"

#include "core/TimeSlice.h"
#include "find/DuplicateFinder.h"
#include "list/TextListModel.h"

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
} // namespace

class FindCommandTest : public QObject {
    Q_OBJECT
private slots:
    void startFinding();
    void emptyList();
    void secondStartDuringRunIsIgnored();
    void otherCommandsDuringRun();
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

// The window gets its turns before the first row is found, not only while rows are reported.
void FindCommandTest::yieldsWhileCounting() {
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

QTEST_MAIN(FindCommandTest)
#include "tst_findcommand.moc"
