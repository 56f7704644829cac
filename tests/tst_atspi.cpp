// The window read over a real accessibility bus by a separate reader, the way a screen reader
// reads it; tests/atspi_session.sh gives the program the display and buses.
#include "TestSupport.h"

#include <QApplication>
#include <QEventLoop>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTest>
#include <QTimer>

namespace {
void start(QProcess &reader, const QStringList &command) {
    reader.start(QStringLiteral("/usr/bin/python3"),
                 QStringList{QStringLiteral(QUORVEL_SOURCE_DIR "/tests/atspi_reader.py"),
                             QString::number(QCoreApplication::applicationPid())} +
                     command);
}

// The reader's JSON once it ends, the window answering it meanwhile; an empty object with the
// failure reported.
QJsonObject finish(QProcess &reader) {
    // A polling wait would answer one question each time it looks, not all of them at once.
    if (reader.state() != QProcess::NotRunning) {
        QEventLoop loop;
        QObject::connect(&reader, &QProcess::finished, &loop, &QEventLoop::quit);
        QTimer::singleShot(90000, &loop, &QEventLoop::quit);
        loop.exec();
    }
    if (reader.state() != QProcess::NotRunning) {
        reader.kill();
        reader.waitForFinished();
    }
    const QByteArray errors = reader.readAllStandardError();
    if (reader.exitStatus() != QProcess::NormalExit || reader.exitCode() != 0) {
        qWarning("reader failed: %s", errors.constData());
        return {};
    }
    return QJsonDocument::fromJson(reader.readAllStandardOutput()).object();
}

QJsonObject read(const QStringList &command) {
    QProcess reader;
    start(reader, command);
    return finish(reader);
}

QStringList names(const QJsonObject &list) {
    QStringList texts;
    for (const QJsonValue &row : list[QLatin1String("rows")].toArray())
        texts << row[QLatin1String("name")].toString();
    return texts;
}

bool has(const QJsonValue &row, const char *state) {
    return row[QLatin1String("states")].toArray().contains(QString::fromLatin1(state));
}
} // namespace

class AtspiTest : public QObject {
    Q_OBJECT
private slots:
    void samplesAndResults();
    void millionItems();
    void keyboardFocusIsTold();
    void questionsOutsideTheList_data();
    void questionsOutsideTheList();
};

// The six samples and the result they give, in order, with the result's check box, which the
// reader also unticks. (Qt's bridge tells "checked" but not "checkable".)
void AtspiTest::samplesAndResults() {
    Harness h;
    Form1 &w = h.w();
    w.show();
    QVERIFY(QTest::qWaitForWindowExposed(&w));
    h.button("PushButton2")->click();
    h.button("PushButton4")->click();

    const QJsonObject lists = read({QStringLiteral("lists")});
    const QJsonObject items = lists[QLatin1String("Text List")].toObject();
    const QJsonObject results = lists[QLatin1String("Results")].toObject();
    QCOMPARE(items[QLatin1String("count")].toInt(), 6);
    QCOMPARE(names(items), QStringList({"red", "orange", "Purple", "orange", "purple", "orange"}));
    QVERIFY(has(items, "manages descendants")); // so a reader never walks every row
    QCOMPARE(names(results), QStringList({"orange"}));
    const QJsonValue result = results[QLatin1String("rows")][0];
    QCOMPARE(result[QLatin1String("role")].toString(), QStringLiteral("list item"));
    QVERIFY(has(result, "checked"));

    const QJsonObject toggled =
        read({QStringLiteral("toggle"), QStringLiteral("Results"), QStringLiteral("0")});
    QCOMPARE(toggled[QLatin1String("actions")].toArray(), QJsonArray({"Toggle"}));
    QVERIFY(toggled[QLatin1String("done")].toBool());
    QVERIFY(!w.resultsList().isChecked(1));
    const QJsonObject after =
        read({QStringLiteral("row"), QStringLiteral("Results"), QStringLiteral("0")});
    QCOMPARE(after[QLatin1String("name")].toString(), QStringLiteral("orange"));
    QVERIFY(!has(after, "checked"));
}

// A reader's question about the last of a million rows is answered like one about the first.
void AtspiTest::millionItems() {
    Harness h;
    Form1 &w = h.w();
    w.show();
    QVERIFY(QTest::qWaitForWindowExposed(&w));
    TextStore lines;
    for (int i = 0; i < 1000000; ++i)
        lines.append(QStringLiteral("line %1").arg(i));
    w.inputList().appendItems(lines);

    for (const int row : {0, 999999}) {
        const QJsonObject found =
            read({QStringLiteral("row"), QStringLiteral("Text List"), QString::number(row)});
        QCOMPARE(found[QLatin1String("count")].toInt(), 1000000);
        QCOMPARE(found[QLatin1String("name")].toString(), QStringLiteral("line %1").arg(row));
        qInfo("row %d read in %.3f s", row, found[QLatin1String("seconds")].toDouble());
    }
}

// The reader hears the item the Down key moves to.
void AtspiTest::keyboardFocusIsTold() {
    Harness h;
    Form1 &w = h.w();
    w.show();
    QVERIFY(QTest::qWaitForWindowExposed(&w));
    w.activateWindow(); // no window manager to do it
    QVERIFY(QTest::qWaitForWindowActive(&w));
    h.button("PushButton2")->click();
    ReportView *list = w.listView1();
    list->setFocus();
    QProcess reader;
    start(reader, {QStringLiteral("focus")});
    QVERIFY(QTest::qWaitFor([&] { return reader.canReadLine(); }, 30000));
    QCOMPARE(reader.readLine(), QByteArray("listening\n"));
    // The window learns of the new listener through the bus; keys before that go untold.
    const auto ended = [&] { return reader.state() == QProcess::NotRunning; };
    for (int presses = 0; presses < 5 && !ended(); ++presses) {
        QTest::keyClick(list, Qt::Key_Down);
        if (QTest::qWaitFor(ended, 2000))
            break;
    }
    const QJsonArray focused = finish(reader)[QLatin1String("focused")].toArray();
    QCOMPARE(focused.size(), 1);
    QCOMPARE(focused[0].toString(), w.inputList().itemText(list->currentIndex().row() + 1));
}

void AtspiTest::questionsOutsideTheList_data() {
    QTest::addColumn<QString>("commands"); // buttons clicked first
    QTest::addColumn<int>("items");
    QTest::addColumn<int>("results");
    QTest::newRow("the samples and their result") << "PushButton2 PushButton4" << 6 << 1;
    QTest::newRow("empty lists") << "" << 0 << 0;
}

// Every table, table-cell and text question at the indexes just outside either list is
// answered as "nothing there", and the window goes on, a frame named by its caption.
void AtspiTest::questionsOutsideTheList() {
    QFETCH(QString, commands);
    QFETCH(int, items);
    QFETCH(int, results);
    Harness h;
    Form1 &w = h.w();
    w.show();
    QVERIFY(QTest::qWaitForWindowExposed(&w));
    for (const QString &name : commands.split(QLatin1Char(' '), Qt::SkipEmptyParts))
        h.button(name.toLatin1().constData())->click();

    const QJsonObject answers =
        read({QStringLiteral("probe"), QStringLiteral("Text List"), QStringLiteral("Results")});
    QVERIFY(answers.size() > 200);
    const QJsonObject window = answers[QLatin1String("window")].toObject();
    QCOMPARE(window[QLatin1String("role")].toString(), QStringLiteral("frame"));
    QCOMPARE(window[QLatin1String("name")].toString(), QStringLiteral("Quorvel Software"));
    for (const auto &[list, rows] : {std::pair{"Text List", items}, {"Results", results}}) {
        const auto answer = [&, list = list](const char *call, int index) {
            return answers[QLatin1String(list) + QLatin1String(": ") +
                           QString::fromLatin1(call).arg(index)];
        };
        for (const int index : {-1, rows, rows + 1, int(INT_MIN), int(INT_MAX)}) {
            QCOMPARE(answer("get_row_extent_at(%1, 0)", index), QJsonValue(0));
            QCOMPARE(answer("get_column_extent_at(%1, 0)", index), QJsonValue(0));
            QCOMPARE(answer("get_row_extent_at(0, %1)", index), QJsonValue(0));
            QCOMPARE(answer("is_selected(%1, 0)", index), QJsonValue(false));
            QCOMPARE(answer("get_index_at(%1, 0)", index), QJsonValue(-1));
            QCOMPARE(answer("get_row_column_extents_at_index(%1)", index),
                     QJsonValue(QJsonArray{true, -1, -1, 0, 0, false}));
            QCOMPARE(answer("add_row_selection(%1)", index), QJsonValue(false));
        }
    }
    // What the lists hold stays, nothing selected.
    QCOMPARE(w.inputList().itemCount(), items);
    QCOMPARE(w.resultsList().itemCount(), results);
    QVERIFY(!w.listView1()->selectionModel()->hasSelection());
    QVERIFY(!w.listView2()->selectionModel()->hasSelection());
}

QTEST_MAIN(AtspiTest)
#include "tst_atspi.moc"
