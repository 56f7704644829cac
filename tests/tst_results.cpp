#include "TestSupport.h"

#include "engine/core/ErrorReport.h"
#include "engine/results/ClipboardLayout.h"
#include "engine/store/TextListModel.h"
#include "gui/platform/QtClipboard.h"

#include <QClipboard>
#include <QDir>
#include <QFile>
#include <QGuiApplication>
#include <QMimeData>
#include <QScopeGuard>
#include <QTest>
#include <QTimer>

#include <atomic>
#include <thread>

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
    // Bytes the copy holds beyond its text: the trailing spaces it dropped, and a lone
    // surrogate's, stored in three bytes, which the copy writes in one.
    QTest::addColumn<int>("unused");
    QTest::newRow("ticked rows") << QStringList{"a", "bbb"} << QList<bool>{true, true}
                                 << QStringLiteral("a\r\nbbb\r\n") << 0;
    QTest::newRow("trailing spaces dropped, leading kept")
        << QStringList{"a  ", " ", " b"} << QList<bool>{true, true, true}
        << QStringLiteral("a\r\n\r\n b\r\n") << 3;
    QTest::newRow("tabs and inner spaces kept")
        << QStringList{"a \tb ", "x y"} << QList<bool>{true, true}
        << QStringLiteral("a \tb\r\nx y\r\n") << 1;
    QTest::newRow("unticked rows left out")
        << QStringList{"x", "longer", "y"} << QList<bool>{true, false, true}
        << QStringLiteral("x\r\ny\r\n") << 0;
    QTest::newRow("none ticked") << QStringList{"a", "b"} << QList<bool>{false, false} << QString()
                                 << 0;
    QTest::newRow("no rows") << QStringList{} << QList<bool>{} << QString() << 0;
    QTest::newRow("rows beyond the ticks")
        << QStringList{"a", "b"} << QList<bool>{true} << QStringLiteral("a\r\n") << 0;
    QTest::newRow("two, three and four bytes in UTF-8")
        << QStringList{QStringLiteral("\u00e9\u20ac\U0001F600"), QStringLiteral("\u0800")}
        << QList<bool>{true, true} << QStringLiteral("\u00e9\u20ac\U0001F600\r\n\u0800\r\n") << 0;
    QTest::newRow("lone surrogate")
        << QStringList{QString(QChar(0xD800)) + QLatin1Char('a')} << QList<bool>{true}
        << QString(QChar(0xD800)) + QStringLiteral("a\r\n") << 2;
}

void ResultsTest::copyLayout() {
    QFETCH(QStringList, texts);
    QFETCH(QList<bool>, ticks);
    QFETCH(QString, text);
    QFETCH(int, unused);
    TextStore store;
    for (const QString &t : texts)
        store.append(t);
    const QByteArray copied =
        layoutCheckedRows(store, std::vector<bool>(ticks.begin(), ticks.end()), nullptr);
    QCOMPARE(copied, text.toUtf8());
    // Room is made once, for the text: never grown into, never much left over.
    QCOMPARE(copied.capacity() - copied.size(), unused);
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
    const QByteArray text = layoutCheckedRows(texts, std::vector<bool>(size_t(rows), true), &slice);
    QVERIFY(text.endsWith("row 999999\r\n"));
    QVERIFY(!progress.shown.isEmpty());
    QVERIFY(std::is_sorted(progress.shown.begin(), progress.shown.end()));
    QVERIFY(progress.shown.constLast() > 0);
    QVERIFY(progress.shown.constLast() < 2 * rows);
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
    QTest::addColumn<int>("failures");
    QTest::addColumn<QString>("clipboard");
    QTest::addColumn<bool>("real"); // the system's clipboard instead of a stand-in
    QTest::newRow("empty results")
        << QStringList{} << QList<bool>{} << 0 << QStringLiteral("(untouched)") << false;
    QTest::newRow("none ticked") << QStringList{"a", "b"} << QList<bool>{false, false} << 0
                                 << QString() << false;
    QTest::newRow("ticked rows") << QStringList{"a", "bb", "c"} << QList<bool>{true, false, true}
                                 << 0 << QStringLiteral("a\r\nc\r\n") << false;
    QTest::newRow("busy clipboard")
        << QStringList{"a"} << QList<bool>{true} << 5 << QStringLiteral("a\r\n") << false;
    QTest::newRow("system clipboard")
        << QStringList{QStringLiteral("\u00e9\u20ac\U0001F600"), "b"} << QList<bool>{true, true}
        << 0 << QStringLiteral("\u00e9\u20ac\U0001F600\r\nb\r\n") << true;
    QTest::newRow("system clipboard, empty results")
        << QStringList{} << QList<bool>{} << 0 << QStringLiteral("(untouched)") << true;
}

void ResultsTest::copyCommand() {
    QFETCH(QStringList, values);
    QFETCH(QList<bool>, ticks);
    QFETCH(int, failures);
    QFETCH(QString, clipboard);
    QFETCH(bool, real);
    QtClipboard system;
    QGuiApplication::clipboard()->setText(QStringLiteral("(untouched)"));
    Harness h(nullptr, real ? &system : nullptr);
    addResults(h.w(), values);
    for (int i = 0; i < ticks.size(); ++i)
        h.w().resultsList().setData(h.w().resultsList().index(i),
                                    ticks[i] ? Qt::Checked : Qt::Unchecked, Qt::CheckStateRole);
    h.clipboard.failuresLeft = std::max(failures, 0);

    h.button("PushButton10")->click();

    if (real) {
        // What a paste here and one in another program get.
        QCOMPARE(QGuiApplication::clipboard()->text(), clipboard);
        const QMimeData *data = QGuiApplication::clipboard()->mimeData();
        QVERIFY(data);
        QCOMPARE(data->data(QStringLiteral("text/plain")), clipboard.toUtf8());
    } else {
        QCOMPARE(h.clipboard.text, clipboard);
    }
    QCOMPARE(h.dialogs.shown.size(), 1);
    const auto &box = h.dialogs.shown[0];
    QCOMPARE(box.text, CopiedMessage);
    QCOMPARE(box.title, QStringLiteral("Quorvel"));
    QCOMPARE(box.buttons, Dialogs::Buttons::Ok);
    QCOMPARE(box.icon, Dialogs::Icon::None);
}

QTEST_MAIN(ResultsTest)

#include "tst_results.moc"
