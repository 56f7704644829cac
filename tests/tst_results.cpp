#include "TestSupport.h"

#include "core/ErrorReport.h"
#include "list/TextListModel.h"
#include "platform/QtClipboard.h"
#include "results/ClipboardLayout.h"

#include <QClipboard>
#include <QDir>
#include <QFile>
#include <QGuiApplication>
#include <QScopeGuard>
#include <QTest>
#include <QTimer>

#include <atomic>
#include <fcntl.h>
#include <sys/ioctl.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <thread>
#include <unistd.h>

namespace {
const QString CopiedMessage =
    QStringLiteral("Results have been copied to the clipboard.\r\rClick a text area where you "
                   "normally type and press Ctrl+V to paste the clipboard.");

void addResults(Form1 &w, const QStringList &values) {
    for (const QString &value : values)
        w.resultsList().appendItem(value);
}

} // namespace

class ResultsTest : public QObject {
    Q_OBJECT
private slots:
    void tickByHand();
    void clearResults();
    void copyLayout_data();
    void copyLayout();
    void copyProgress();
    void copyCommand_data();
    void copyCommand();
};

void ResultsTest::clearResults() {
    Harness h;
    h.w().inputList().appendItem(QStringLiteral("x"));
    h.w().inputList().appendItem(QStringLiteral("x"));
    addResults(h.w(), {"x", "y"});
    h.button("PushButton9")->click();
    QCOMPARE(h.w().resultsList().itemCount(), 0);
    QCOMPARE(itemsOf(h.w().inputList()), QStringList({"x", "x"}));
    QVERIFY(h.dialogs.shown.isEmpty());
}

void ResultsTest::copyLayout_data() {
    QTest::addColumn<QStringList>("texts");
    QTest::addColumn<QList<bool>>("ticks");
    QTest::addColumn<QString>("text");
    QTest::newRow("ticked rows") << QStringList{"a", "bbb"} << QList<bool>{true, true}
                                 << QStringLiteral("a\r\nbbb\r\n");
    QTest::newRow("trailing spaces dropped, leading kept")
        << QStringList{"a  ", " ", " b"} << QList<bool>{true, true, true}
        << QStringLiteral("a\r\n\r\n b\r\n");
    QTest::newRow("tabs and inner spaces kept")
        << QStringList{"a \tb ", "x y"} << QList<bool>{true, true}
        << QStringLiteral("a \tb\r\nx y\r\n");
    QTest::newRow("unticked rows left out")
        << QStringList{"x", "longer", "y"} << QList<bool>{true, false, true}
        << QStringLiteral("x\r\ny\r\n");
    QTest::newRow("none ticked") << QStringList{"a", "b"} << QList<bool>{false, false} << QString();
    QTest::newRow("no rows") << QStringList{} << QList<bool>{} << QString();
    QTest::newRow("rows beyond the ticks")
        << QStringList{"a", "b"} << QList<bool>{true} << QStringLiteral("a\r\n");
}

void ResultsTest::copyLayout() {
    QFETCH(QStringList, texts);
    QFETCH(QList<bool>, ticks);
    QFETCH(QString, text);
    TextStore store;
    for (const QString &t : texts)
        store.append(t);
    QCOMPARE(layoutCheckedRows(store, std::vector<bool>(ticks.begin(), ticks.end()), nullptr),
             text);
}

// A long copy shows how far it has come at its turns, never going back.
void ResultsTest::copyProgress() {
    struct Recorded : Progress {
        QList<qint64> shown;
        void show() override { shown << done; }
    } progress;
    TextStore texts;
    const qsizetype rows = 1000000;
    for (qsizetype i = 0; i < rows; ++i)
        texts.append(QStringLiteral("row %1   ").arg(i));
    const bool closing = false;
    TimeSlice slice(closing, &progress);
    const QString text = layoutCheckedRows(texts, std::vector<bool>(size_t(rows), true), &slice);
    QVERIFY(text.endsWith(QLatin1String("row 999999\r\n")));
    QVERIFY(!progress.shown.isEmpty());
    QVERIFY(std::is_sorted(progress.shown.begin(), progress.shown.end()));
    QVERIFY(progress.shown.constLast() > 0);
    QVERIFY(progress.shown.constLast() < rows);
}

// A box answers the mouse in a row scrolled to, and only its own row changes.
void ResultsTest::tickByHand() {
    Harness h;
    h.w().show();
    QVERIFY(QTest::qWaitForWindowExposed(&h.w()));
    QStringList values;
    for (int i = 0; i < 100; ++i)
        values << QString::number(i);
    addResults(h.w(), values);
    ReportView *view = h.w().listView2();
    TextListModel &list = h.w().resultsList();
    const bool ticked = list.isChecked(99);
    view->scrollTo(list.index(99));
    const QRect row = view->visualRect(list.index(98));
    QTest::mouseClick(view->viewport(), Qt::LeftButton, {},
                      QPoint(row.left() + 10, row.center().y()));
    QCOMPARE(list.isChecked(99), !ticked);
    QCOMPARE(list.isChecked(100), ticked);
}

void ResultsTest::copyCommand_data() {
    QTest::addColumn<QStringList>("values");
    QTest::addColumn<QList<bool>>("ticks");
    QTest::addColumn<int>("failures"); // -1: the system's clipboard
    QTest::addColumn<QString>("clipboard");
    QTest::newRow("empty results")
        << QStringList{} << QList<bool>{} << 0 << QStringLiteral("(untouched)");
    QTest::newRow("none ticked") << QStringList{"a", "b"} << QList<bool>{false, false} << 0
                                 << QString();
    QTest::newRow("ticked rows") << QStringList{"a", "bb", "c"} << QList<bool>{true, false, true}
                                 << 0 << QStringLiteral("a\r\nc\r\n");
    QTest::newRow("busy clipboard")
        << QStringList{"a"} << QList<bool>{true} << 5 << QStringLiteral("a\r\n");
    QTest::newRow("the system's clipboard")
        << QStringList{"a ", "\u00E9"} << QList<bool>{true, true} << -1
        << QStringLiteral("a\r\n\u00E9\r\n");
}

void ResultsTest::copyCommand() {
    QFETCH(QStringList, values);
    QFETCH(QList<bool>, ticks);
    QFETCH(int, failures);
    QFETCH(QString, clipboard);
    Harness h;
    QtClipboard system;
    if (failures < 0)
        h.window = std::make_unique<Form1>(h.dialogs, system, *h.files, h.appFolder.path());
    addResults(h.w(), values);
    for (int i = 0; i < ticks.size(); ++i)
        h.w().resultsList().setData(h.w().resultsList().index(i),
                                    ticks[i] ? Qt::Checked : Qt::Unchecked, Qt::CheckStateRole);
    h.clipboard.failuresLeft = std::max(failures, 0);

    h.button("PushButton10")->click();

    QCOMPARE(failures < 0 ? QGuiApplication::clipboard()->text() : h.clipboard.text, clipboard);
    QCOMPARE(h.dialogs.shown.size(), 1);
    const auto &box = h.dialogs.shown[0];
    QCOMPARE(box.text, CopiedMessage);
    QCOMPARE(box.title, QStringLiteral("Quorvel"));
    QCOMPARE(box.buttons, Dialogs::Buttons::Ok);
    QCOMPARE(box.icon, Dialogs::Icon::None);
}

QTEST_MAIN(ResultsTest)

#include "tst_results.moc"
