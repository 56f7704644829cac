#include "TestSupport.h"

#include "core/ErrorReport.h"
#include "list/TextListModel.h"
#include "platform/QtClipboard.h"
#include "results/ClipboardLayout.h"

#include <QClipboard>
#include <QDir>
#include <QFile>
#include <QMimeData>
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

QStringList items(const TextListModel &list) {
    QStringList texts;
    for (int i = 1; i <= list.itemCount(); ++i)
        texts << list.itemText(i);
    return texts;
}

void addResults(Form1 &w, const QStringList &values) {
    for (const QString &value : values)
        w.resultsList().appendItem(value);
}

class Table : public ColumnTable {
public:
    Table(QList<QStringList> rows, QList<bool> ticks)
        : rows_(std::move(rows)), ticks_(std::move(ticks)) {}
    int columnCount() const override { return rows_.isEmpty() ? 1 : int(rows_[0].size()); }
    qsizetype rowCount() const override { return rows_.size(); }
    QString cell(qsizetype row, int column) const override { return rows_[row][column]; }
    bool isChecked(qsizetype row) const override { return ticks_[row]; }

private:
    QList<QStringList> rows_;
    QList<bool> ticks_;
};
} // namespace

class ResultsTest : public QObject {
    Q_OBJECT
private slots:
    void tickByHand();
    void clearResults();
    void copyLayout_data();
    void copyLayout();
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
    QCOMPARE(items(h.w().inputList()), QStringList({"x", "x"}));
    QVERIFY(h.dialogs.shown.isEmpty());
}

void ResultsTest::copyLayout_data() {
    QTest::addColumn<QList<QStringList>>("rows");
    QTest::addColumn<QList<bool>>("ticks");
    QTest::addColumn<QString>("text");
    // Bytes the copy holds beyond its text: the trailing spaces it dropped, and a lone
    // surrogate's, which becomes one byte.
    QTest::addColumn<int>("unused");
    QTest::newRow("one column") << QList<QStringList>{{"a"}, {"bbb"}} << QList<bool>{true, true}
                                << QStringLiteral("a\r\nbbb\r\n") << 0;
    QTest::newRow("two columns") << QList<QStringList>{{"x", "1"}, {"long", "2"}}
                                 << QList<bool>{true, true}
                                 << QStringLiteral("x   \t1\r\nlong\t2\r\n") << 0;
    QTest::newRow("trailing spaces")
        << QList<QStringList>{{"a ", "b  "}, {"cc", "d"}} << QList<bool>{true, true}
        << QStringLiteral("a \tb\r\ncc\td\r\n") << 2;
    QTest::newRow("one column, trailing spaces")
        << QList<QStringList>{{"a  "}, {" "}} << QList<bool>{true, true}
        << QStringLiteral("a\r\n\r\n") << 3;
    // Unticked rows still count for the column widths.
    QTest::newRow("unticked rows left out")
        << QList<QStringList>{{"x", "1"}, {"longer", "2"}, {"y", "3"}}
        << QList<bool>{true, false, true} << QStringLiteral("x     \t1\r\ny     \t3\r\n") << 0;
    QTest::newRow("none ticked") << QList<QStringList>{{"a"}, {"b"}} << QList<bool>{false, false}
                                 << QString() << 0;
    QTest::newRow("no rows") << QList<QStringList>{} << QList<bool>{} << QString() << 0;
    QTest::newRow("width in UTF-16 units")
        << QList<QStringList>{{QStringLiteral("\U0001F600"), "1"}, {"abc", "2"}}
        << QList<bool>{true, true} << QStringLiteral("\U0001F600 \t1\r\nabc\t2\r\n") << 0;
    QTest::newRow("two and three bytes in UTF-8")
        << QList<QStringList>{{QStringLiteral("\u00e9\u20ac"), "1"}, {"abcd", "2"}}
        << QList<bool>{true, true} << QStringLiteral("\u00e9\u20ac  \t1\r\nabcd\t2\r\n") << 0;
    QTest::newRow("lone surrogate")
        << QList<QStringList>{{QString(QChar(0xD800)) + QLatin1Char('a')}} << QList<bool>{true}
        << QString(QChar(0xD800)) + QStringLiteral("a\r\n") << 1;
    QTest::newRow("three bytes from U+0800")
        << QList<QStringList>{{QStringLiteral("\u0800")}} << QList<bool>{true}
        << QStringLiteral("\u0800\r\n") << 0;
}

void ResultsTest::copyLayout() {
    QFETCH(QList<QStringList>, rows);
    QFETCH(QList<bool>, ticks);
    QFETCH(QString, text);
    QFETCH(int, unused);
    const QByteArray copied = layoutCheckedRows(Table(rows, ticks), nullptr);
    QCOMPARE(copied, text.toUtf8());
    // Room is made once, for the text: never grown into, never left over.
    QCOMPARE(copied.capacity() - copied.size(), unused);
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
        h.w().resultsList().setChecked(i + 1, ticks[i]);
    h.clipboard.failuresLeft = failures;

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

int runSaveTests(int argc, char **argv);

int main(int argc, char **argv) {
    QApplication app(argc, argv);
    ResultsTest copying;
    return QTest::qExec(&copying, argc, argv) + runSaveTests(argc, argv);
}
#include "tst_results.moc"
