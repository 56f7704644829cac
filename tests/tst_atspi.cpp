// The window read over a real accessibility bus by a separate reader, the way a screen reader
// reads it; tests/atspi_session.sh gives the program the display and buses.
#include "TestSupport.h"

#include <QApplication>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTest>

namespace {
// Runs the reader while the window goes on answering it; its JSON, or an empty object with the
// failure reported.
QJsonObject read(const QStringList &command) {
    QProcess reader;
    reader.start(QStringLiteral("/usr/bin/python3"),
                 QStringList{QStringLiteral(QUORVEL_SOURCE_DIR "/tests/atspi_reader.py"),
                             QString::number(QCoreApplication::applicationPid())} +
                     command);
    if (!QTest::qWaitFor([&] { return reader.state() == QProcess::NotRunning; }, 90000)) {
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

QTEST_MAIN(AtspiTest)
#include "tst_atspi.moc"
