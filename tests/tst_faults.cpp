// Bad input and faults, tried on purpose through the real window: each ends with a clear
// message or a sound result, the window keeps working, and nothing already there is lost.
#include "FaultsSupport.h"

#include "engine/core/ErrorReport.h"
#include "engine/core/MemoryLimits.h"
#include "engine/core/TimeSlice.h"
#include "engine/find/DuplicateFinder.h"
#include "engine/platform/FolderSystem.h"
#include "engine/results/ClipboardLayout.h"
#include "engine/store/TextListModel.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QMimeData>
#include <QProcess>
#include <QRandomGenerator>
#include <QRegularExpression>
#include <QTest>
#include <QThread>
#include <QTimer>
#include <QUrl>

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

class FaultsTest : public QObject {
    Q_OBJECT
private slots:
    void badListFiles_data();
    void badListFiles();
    void fileChangesWhileRead_data();
    void fileChangesWhileRead();
    void chosenFileChanges_data();
    void chosenFileChanges();
    void outOfMemory_data();
    void outOfMemory();
    void repeatedCycles();
};

void FaultsTest::badListFiles_data() {
    QTest::addColumn<QByteArray>("bytes");
    QByteArray random(1 << 20, Qt::Uninitialized);
    QRandomGenerator generator(7);
    generator.fillRange(reinterpret_cast<quint32 *>(random.data()), random.size() / 4);
    QTest::newRow("random bytes") << random;
    QTest::newRow("NUL bytes") << QByteArray(1 << 20, '\0');
    QTest::newRow("100 MB without a line end") << QByteArray(100 << 20, 'x');
    QTest::newRow("ten million empty lines") << QByteArray("\r\n").repeated(10000000);
}

void FaultsTest::badListFiles() {
    QFETCH(QByteArray, bytes);
    QTemporaryDir dir;
    const QString path = writeFile(dir.filePath(QStringLiteral("list")), bytes);
    Harness h;
    h.w().inputList().appendItem(QStringLiteral("old"));
    h.dialogs.openAnswers << QStringList{path};
    h.button("PushButton5")->click();

    QVERIFY(h.dialogs.shown.size() == 1); // the dialog, and no report
    TextListModel &list = h.w().inputList();
    QCOMPARE(list.itemText(1), QStringLiteral("old"));
    QCOMPARE(qsizetype(list.itemCount()), 1 + countLines(bytes));
    // Every byte arrived: one character each, apart from line ends and valid UTF-8.
    if (!bytes.contains('\r') && !bytes.contains('\n'))
        QCOMPARE(list.itemText(2).size(), bytes.size());
    h.dialogs.inputs << QStringLiteral("after");
    h.button("PushButton1")->click();
    QCOMPARE(list.itemText(list.itemCount()), QStringLiteral("after"));
}

void FaultsTest::fileChangesWhileRead_data() {
    QTest::addColumn<bool>("grows");
    QTest::addColumn<qsizetype>("read"); // to the end as it stands when reached
    QTest::newRow("grows") << true << qsizetype(70000);
    QTest::newRow("shrinks") << false << qsizetype(30000);
}

// The lines read are the file's lines as they stood at some moment, never garbled.
void FaultsTest::fileChangesWhileRead() {
    QFETCH(bool, grows);
    QFETCH(qsizetype, read);
    QTemporaryDir dir;
    const QByteArray lines = numberedLines("line ", 60000);
    const QString path = writeFile(dir.filePath(QStringLiteral("list.txt")), lines);
    SlowFiles files = slowReads();
    int reads = 0;
    files.onRead = [&] {
        if (++reads != 3)
            return;
        QFile file(path);
        if (grows) {
            file.open(QIODevice::Append);
            file.write(numberedLines("line ", 70000).mid(lines.size()));
        } else {
            file.resize(lines.indexOf("line 30000\r\n"));
        }
    };
    Harness h(&files);
    h.dialogs.openAnswers << QStringList{path};
    h.button("PushButton5")->click();

    const QStringList items = itemsOf(h.w().inputList());
    for (qsizetype i = 0; i < items.size(); ++i)
        QCOMPARE(items[i], QStringLiteral("line %1").arg(i));
    QCOMPARE(items.size(), read);
    QCOMPARE(errorReports(h.dialogs), QStringList());
    QCOMPARE(h.w().mousePointer(), int(Form1::PointerDefault));
}

void FaultsTest::chosenFileChanges_data() {
    QTest::addColumn<QString>("change");
    QTest::addColumn<QString>("message"); // empty: loaded
    QTest::newRow("deleted") << QStringLiteral("delete") << QStringLiteral("File not found");
    QTest::newRow("replaced by a folder")
        << QStringLiteral("folder") << QStringLiteral("Bad file mode");
    QTest::newRow("made unreadable") << QStringLiteral("unreadable")
                                     << (::geteuid() == 0 ? QString() // root reads it anyway
                                                          : QStringLiteral("Permission denied"));
}

void FaultsTest::chosenFileChanges() {
    QFETCH(QString, change);
    QFETCH(QString, message);
    QTemporaryDir dir;
    const QString path = writeFile(dir.filePath(QStringLiteral("list.txt")), "new\r\n");
    Harness h;
    h.w().inputList().appendItem(QStringLiteral("old"));
    h.dialogs.openAnswers << QStringList{path};
    // After the dialog closed, before the file is read.
    h.dialogs.onShow = [&](const FakeDialogs::Shown &shown) {
        if (shown.kind != QLatin1String("open"))
            return;
        QFile::remove(path);
        if (change == QLatin1String("folder"))
            QDir().mkdir(path);
        if (change == QLatin1String("unreadable")) {
            writeFile(path, "new\r\n");
            QFile::setPermissions(path, QFileDevice::WriteOwner);
        }
    };
    h.button("PushButton5")->click();

    const QStringList messages = h.dialogs.messageTexts();
    QCOMPARE(messages.size(), message.isEmpty() ? 0 : 1);
    if (!message.isEmpty())
        QVERIFY2(messages[0].startsWith(message), qPrintable(messages[0]));
    QCOMPARE(itemsOf(h.w().inputList()),
             message.isEmpty() ? QStringList({"old", "new"}) : QStringList{"old"});
}

void FaultsTest::outOfMemory_data() {
    // What the child does, the lines of its list, the limit on its address space (tight:
    // just above what it holds before the command; store: room for the list's store alone;
    // once: room for it twice; or bytes from the start) and how each command
    // ends. A 10,000,000-line list takes about 200 MB to load and 300 MB more to find on, beside
    // some 250 MB of the window's own.
    QTest::addColumn<QString>("commands");
    QTest::addColumn<int>("lines");
    QTest::addColumn<QString>("limit");
    QTest::addColumn<QString>("verdicts");
    QTest::newRow("load") << "load" << 0 << "tight"
                          << "refused";
    QTest::newRow("find") << "find" << 3000000 << "tight"
                          << "refused";
    QTest::newRow("copy") << "copy" << 3000000 << "tight"
                          << "refused";
    QTest::newRow("load, room for its store alone") << "load" << 1000000 << "store"
                                                    << "refused";
    QTest::newRow("load, Clear List, load again: the freed list is room")
        << "load+clear+load" << 4000000 << "once"
        << "done+done+done";
    QTest::newRow("find, room for its index but not the window's headroom")
        << "find" << 3000000 << "index"
        << "refused";
    QTest::newRow("load in 0.3 GB: refused, a find after it works")
        << "load+find" << 10000000 << "314572800"
        << "refused+done";
    QTest::newRow("load and find in 1.2 GB") << "load+find" << 4000000 << "1258291200"
                                             << "done+done";
    // A running find shares the list's texts: the remove must copy 16 MB of them first.
    QTest::newRow("remove beside a find's copy") << "remove" << 4095 << "tight"
                                                 << "refused";
}

// Runs in a child process of this program under a limit on its address space.
void FaultsTest::outOfMemory() {
#if defined(__SANITIZE_ADDRESS__)
    QSKIP("the address sanitizer needs more address space than the limit leaves");
#endif
    QFETCH(QString, commands);
    QFETCH(int, lines);
    QFETCH(QString, limit);
    QFETCH(QString, verdicts);
    QProcess child;
    child.setProgram(QCoreApplication::applicationFilePath());
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("QUORVEL_OUT_OF_MEMORY"),
               QStringList{commands, limit, QString::number(lines)}.join(QLatin1Char(' ')));
    child.setProcessEnvironment(env);
    child.start();
    QVERIFY(child.waitForFinished(120000));
    const QString output = QString::fromUtf8(child.readAllStandardOutput());
    QCOMPARE(child.exitStatus(), QProcess::NormalExit); // never a signal
    QCOMPARE(child.exitCode(), 0);
    QStringList verdict = verdicts.split(QLatin1Char('+'));
    for (const QString &command : commands.split(QLatin1Char('+')))
        QVERIFY2(output.contains(command + QStringLiteral(": ") + verdict.takeFirst() + '\n'),
                 qPrintable(output));
    QVERIFY2(output.contains(QStringLiteral("usable afterwards")), qPrintable(output));
}

// A figure of /proc/self/status in bytes.
static qint64 statusBytes(QByteArrayView name) {
    QFile status(QStringLiteral("/proc/self/status"));
    status.open(QIODevice::ReadOnly);
    for (const QByteArray &line : status.readAll().split('\n'))
        if (line.startsWith(name))
            return line.mid(name.size()).trimmed().split(' ').value(0).toLongLong() << 10;
    return 0;
}

// The child's side: commands that may run out of memory, then the same window again.
// QUORVEL_OUT_OF_MEMORY holds the commands, the limit and the lines; a fourth word names a
// list file to load instead of the one written here.
static int outOfMemoryChild(const QStringList &args) {
    const QString commands = args.value(0), limitKind = args.value(1);
    const int lines = args.value(2).toInt();
    // As the window's main has it: a reading thread's own arena would reserve address space
    // the limits below leave no room for.
    memory::shareOneHeap();
    QTemporaryDir dir;
    Harness h;
    Form1 &w = h.w();
    w.show();
    QCoreApplication::processEvents();
    w.inputList().appendItem(QStringLiteral("kept"));
    QString path = args.value(3);
    qint64 storeBytes = 0;
    if (path.isEmpty() && commands.startsWith(QLatin1String("load"))) {
        path = dir.filePath(QStringLiteral("list.txt"));
        QFile file(path);
        file.open(QIODevice::WriteOnly);
        if (limitKind == QLatin1String("tight")) {
            // Larger than what is left, sparse so that it costs no disk.
            file.resize(statusBytes("VmSize:") + (qint64(1) << 30));
        } else {
            // Every text twice.
            QByteArray bytes;
            for (int i = 0; i < lines; ++i)
                bytes += "item " + QByteArray::number(i % std::max(1, lines / 2)) + "\r\n";
            file.write(bytes);
            storeBytes = bytes.size() - 2 * qint64(lines) + 8 * qint64(lines);
        }
    } else if (commands == QLatin1String("find")) {
        // Under the index's limit, no repeats: no room is asked for rows, so only the check
        // made before the index is built can refuse.
        const int distinct = limitKind == QLatin1String("index") ? lines : std::max(1, lines / 2);
        TextStore items;
        for (int i = 0; i < lines; ++i)
            items.append(QStringLiteral("item %1").arg(i % distinct));
        w.inputList().appendItems(items);
    } else if (commands == QLatin1String("copy")) {
        TextStore rows;
        for (int i = 0; i < lines; ++i)
            rows.append(QStringLiteral("row %1").arg(i));
        w.resultsList().setNewRowsChecked(true);
        w.resultsList().appendItems(rows);
    } else if (commands == QLatin1String("remove")) {
        TextStore items;
        for (int i = 0; i < lines; ++i)
            items.append(QString(4000, QLatin1Char('r')) + QString::number(i));
        w.inputList().appendItems(items);
        QAbstractItemView *view = w.listView1();
        view->selectionModel()->setCurrentIndex(view->model()->index(1, 0),
                                                QItemSelectionModel::ClearAndSelect);
    }
    const TextStore findsCopy =
        commands == QLatin1String("remove") ? w.inputList().store() : TextStore();

    rlimit limit{};
    getrlimit(RLIMIT_AS, &limit);
    const rlim_t unlimited = limit.rlim_cur;
    // Tight: room for the window's own turns, not for the command's work.
    const qint64 room = limitKind == QLatin1String("once")    ? storeBytes * 2 + (64 << 20)
                        : limitKind == QLatin1String("store") ? storeBytes
                        : limitKind == QLatin1String("index") ? findIndexBytes(lines) + (32 << 20)
                        : commands == QLatin1String("load")   ? 256 << 20
                                                              : 8 << 20;
    const bool fixed = limitKind.toLongLong() > 0;
    limit.rlim_cur = rlim_t(fixed ? limitKind.toLongLong() : statusBytes("VmSize:") + room);
    setrlimit(RLIMIT_AS, &limit);

    const TextListModel &input = w.inputList();
    const TextListModel &results = w.resultsList();
    // Refused: the report, and the list as it was. Done: no report, and every item or row.
    const bool ownList = args.value(3).isEmpty();
    auto outcome = [&](const char *command, int count, int unchanged, int whole) {
        const QStringList reports = errorReports(h.dialogs);
        const char *verdict = !reports.isEmpty() ? (count == unchanged ? "refused" : "changed")
                              : (!ownList || count == whole) ? "done"
                                                             : "wrong";
        printf("%s: %s\n", command, verdict);
        for (const QString &report : reports)
            printf("report: %s\n", qPrintable(report));
        h.dialogs.shown.clear();
        printf("input %d, results %d, address space %lld MB, peak %lld MB\n", input.itemCount(),
               results.itemCount(), statusBytes("VmSize:") >> 20, statusBytes("VmPeak:") >> 20);
        fflush(stdout);
    };
    for (const QString &command : commands.split(QLatin1Char('+'))) {
        const int before = input.itemCount();
        if (command == QLatin1String("load")) {
            h.dialogs.openAnswers << QStringList{path};
            h.button("PushButton5")->click();
            outcome("load", input.itemCount(), before, before + lines);
        } else if (command == QLatin1String("clear")) {
            h.button("PushButton7")->click();
            outcome("clear", input.itemCount(), before, 0);
        }
    }
    if (commands.endsWith(QLatin1String("find"))) {
        // Every text but the kept one twice: one row each.
        const int rows = limitKind == QLatin1String("index") ? 0 : (input.itemCount() - 1) / 2;
        h.button("PushButton4")->click();
        outcome("find", results.itemCount(), 0, rows);
    }
    if (commands == QLatin1String("copy")) {
        const QString before = h.clipboard.text;
        h.button("PushButton10")->click();
        // Refused: the report alone, no word of a copy, and the clipboard as it was.
        const bool claimed = !h.dialogs.messageTexts().filter(QStringLiteral("copied")).isEmpty();
        outcome("copy", claimed || h.clipboard.text != before ? 1 : 0, 0, 1);
    }
    if (commands == QLatin1String("remove")) {
        const QString second = input.itemText(2);
        QTest::keyClick(w.listView1(), Qt::Key_Delete);
        // Refused: the list and its selection as they were.
        const QModelIndexList selected = w.listView1()->selectionModel()->selectedRows();
        const bool kept = input.itemCount() == 1 + lines && input.itemText(2) == second &&
                          selected.size() == 1 && selected[0].row() == 1;
        printf("remove: %s\n", kept ? "refused" : "changed");
        fflush(stdout);
    }
    if (!fixed) {
        limit.rlim_cur = unlimited;
        setrlimit(RLIMIT_AS, &limit);
    }

    // Usable: the next commands work.
    w.resultsList().clearItems();
    w.inputList().clearItems();
    for (const char *text : {"kept", "x"})
        w.inputList().appendItem(QString::fromLatin1(text));
    h.dialogs.inputs << QStringLiteral("kept");
    h.button("PushButton1")->click();
    h.button("PushButton4")->click();
    if (!w.busyFlag() && w.mousePointer() == Form1::PointerDefault &&
        itemsOf(w.resultsList()) == QStringList{"kept"} && errorReports(h.dialogs).isEmpty())
        printf("usable afterwards\n");
    return 0;
}

// Loads, finds and clears ten times; the sanitizer build checks that nothing leaks.
void FaultsTest::repeatedCycles() {
    QTemporaryDir dir;
    const QString path = writeFile(dir.filePath(QStringLiteral("list.txt")),
                                   numberedLines("c", 5000) + numberedLines("c", 5000));
    Harness h;
    for (int cycle = 0; cycle < 10; ++cycle) {
        h.dialogs.openAnswers << QStringList{path};
        h.button("PushButton5")->click();
        h.button("PushButton4")->click();
        QCOMPARE(h.w().resultsList().itemCount(), 5000);
        h.button("PushButton7")->click();
        h.button("PushButton9")->click();
    }
    QCOMPARE(h.w().inputList().itemCount(), 0);
    QCOMPARE(h.dialogs.messageTexts(), QStringList(10, QStringLiteral("Done.")));
}

int main(int argc, char **argv) {
    QApplication app(argc, argv);
    const QString child = qEnvironmentVariable("QUORVEL_OUT_OF_MEMORY");
    if (!child.isEmpty())
        return outOfMemoryChild(child.split(QLatin1Char(' ')));
    FaultsTest test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_faults.moc"
