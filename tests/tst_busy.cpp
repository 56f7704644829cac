// Presses and closing while a long command runs: the command ends soundly and the window
// keeps working.
#include "FaultsSupport.h"

#include "engine/store/TextListModel.h"

#include <QDir>
#include <QFile>
#include <QRegularExpression>
#include <QTest>
#include <QTimer>

class BusyTest : public QObject {
    Q_OBJECT
private slots:
    void storm_data();
    void storm();
    void closeDuringCommand_data();
    void closeDuringCommand();
};

void BusyTest::storm_data() {
    QTest::addColumn<Command>("command");
    QTest::newRow("load") << Command::Load;
    QTest::newRow("find") << Command::Find;
    QTest::newRow("save") << Command::Save;
    QTest::newRow("copy") << Command::Copy;
    QTest::newRow("drop") << Command::Drop;
}

// Every button, Delete and double-clicks, again and again, while a long command runs.
void BusyTest::storm() {
    QFETCH(Command, command);
    LongCommand run(command);
    Form1 &w = run.h.w();
    ReportView *view = w.listView1();
    const char *buttons[] = {"PushButton1",  "PushButton2", "PushButton4", "PushButton5",
                             "PushButton6",  "PushButton7", "PushButton9", "PushButton10",
                             "PushButton11", "PushButton12"};
    int fired = 0;
    QTimer storm;
    storm.setInterval(0);
    connect(&storm, &QTimer::timeout, [&] {
        // Bounded: every press may start a command of its own that nests in this one.
        if (fired >= 3 * 12) {
            storm.stop();
            return;
        }
        const int action = fired++ % 12;
        run.h.dialogs.inputs << QStringLiteral("typed");
        run.h.dialogs.saveAnswers << run.dir.filePath(QStringLiteral("other.txt"));
        run.h.dialogs.openAnswers << QStringList{run.listPath};
        if (action < 10) {
            run.h.button(buttons[action])->click();
        } else if (view->model()->rowCount() > 0) {
            view->setCurrentIndex(view->model()->index(0, 0));
            if (action == 10)
                QTest::keyClick(view, Qt::Key_Delete);
            else
                QTest::mouseDClick(view->viewport(), Qt::LeftButton, {},
                                   view->visualRect(view->model()->index(0, 0)).center());
        }
    });
    storm.start();
    run.start(command);
    storm.stop();

    QVERIFY(fired > 0);
    QVERIFY(!w.busyFlag());
    QCOMPARE(w.mousePointer(), int(Form1::PointerDefault));
    for (const QString &report : errorReports(run.h.dialogs))
        QCOMPARE(report, QStringLiteral("File already open"));
    // The outer command's own result.
    if (command == Command::Load) {
        const QStringList loaded =
            itemsOf(w.inputList()).filter(QRegularExpression(QStringLiteral("^L\\d+$")));
        QCOMPARE(loaded.size(), 40000); // nothing removed while the hourglass showed
        QCOMPARE(loaded.first(), QStringLiteral("L0"));
        QCOMPARE(loaded.last(), QStringLiteral("L39999"));
    }
    if (command == Command::Save) {
        QCOMPARE(readFile(run.savePath),
                 run.resultsAtStart.join(QStringLiteral("\r\n")).toUtf8() + "\r\n");
    }
    if (command == Command::Copy) {
        QCOMPARE(run.h.clipboard.text,
                 run.resultsAtStart.join(QStringLiteral("\r\n")) + QStringLiteral("\r\n"));
    }
    if (command == Command::Drop) // Clear List and Delete work during a walk; what stays is sound
        for (const QString &item : itemsOf(w.inputList()).filter(run.tree))
            QVERIFY2(QFile::exists(item), qPrintable(item));
    // The window works as before: the file is free again, and a search finds what it should.
    const int before = w.inputList().itemCount();
    run.h.dialogs.openAnswers.clear();
    run.h.dialogs.openAnswers << QStringList{run.listPath};
    run.h.button("PushButton5")->click();
    QCOMPARE(w.inputList().itemCount(), before + 40000);
    run.h.button("PushButton9")->click();
    w.inputList().clearItems();
    for (const char *text : {"p", "q", "p"})
        w.inputList().appendItem(QString::fromLatin1(text));
    run.h.button("PushButton4")->click();
    QCOMPARE(itemsOf(w.resultsList()), QStringList{"p"});
}

void BusyTest::closeDuringCommand_data() {
    storm_data();
}

// The window closes in the middle: the command ends at its next turn, shows nothing more,
// and a file being saved keeps what it held.
void BusyTest::closeDuringCommand() {
    QFETCH(Command, command);
    LongCommand run(command);
    Form1 &w = run.h.w();
    w.show();
    qsizetype shownBefore = -1;
    QTimer closer;
    connect(&closer, &QTimer::timeout, [&] {
        if (command == Command::Drop && run.folders.listings < 10)
            return; // well into the walk
        closer.stop();
        shownBefore = run.h.dialogs.shown.size();
        w.close();
    });
    closer.start(0);
    run.start(command);

    QVERIFY(shownBefore >= 0);
    QCOMPARE(run.h.dialogs.shown.size(), shownBefore);
    QVERIFY(!w.isVisible());
    QCOMPARE(readFile(run.savePath), QByteArray("previous\r\n"));
    QCOMPARE(QDir(run.dir.path()).entryList(QDir::Files | QDir::Hidden),
             QStringList({"list.txt", "saved.txt"}));
    if (command == Command::Copy)
        QCOMPARE(run.h.clipboard.text, QStringLiteral("(untouched)"));
    if (command == Command::Drop)
        QVERIFY(w.inputList().itemCount() < 200 * 5);
}

QTEST_MAIN(BusyTest)
#include "tst_busy.moc"
