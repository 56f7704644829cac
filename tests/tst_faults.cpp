// Bad input and faults, tried on purpose through the real window: each ends with a clear
// message or a sound result, the window keeps working, and nothing already there is lost.
#include "TestSupport.h"

#include "app/ErrorReport.h"
#include "app/TimeSlice.h"
#include "list/TextListModel.h"
#include "platform/FolderSystem.h"
#include "results/ClipboardLayout.h"
#include "ui/ProgressStrip.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QMimeData>
#include <QProcess>
#include <QRandomGenerator>
#include <QRegularExpression>
#include <QTableView>
#include <QTest>
#include <QThread>
#include <QTimer>
#include <QUrl>

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {
QStringList errorReports(const FakeDialogs &dialogs) {
    QStringList reports;
    for (const auto &shown : dialogs.shown)
        if (shown.title == QLatin1String(ErrorReportTitle))
            reports << shown.text.section(QLatin1Char('\r'), 0, 0);
    return reports;
}

// Lines the way the reader splits them: CR, LF and CR LF each end one.
qsizetype countLines(const QByteArray &bytes) {
    qsizetype lines = 0;
    for (qsizetype i = 0; i < bytes.size(); ++i) {
        if (bytes[i] == '\r' || bytes[i] == '\n') {
            ++lines;
            if (bytes[i] == '\r' && i + 1 < bytes.size() && bytes[i + 1] == '\n')
                ++i;
        }
    }
    return lines + (!bytes.isEmpty() && !bytes.endsWith('\r') && !bytes.endsWith('\n'));
}

QByteArray numberedLines(const char *prefix, int count) {
    QByteArray bytes;
    for (int i = 0; i < count; ++i)
        bytes += prefix + QByteArray::number(i) + "\r\n";
    return bytes;
}

// Reads take a slice each, a little at a time.
SlowFiles slowReads() {
    SlowFiles files;
    files.delayMs = TimeSlice::SliceMs + 2;
    files.readSize = 64 * 1024;
    return files;
}

enum class Command { Load, Find, Save, Copy, Drop };

// A folder tree of count folders, each holding files files; returns its path.
QString makeTree(const QTemporaryDir &dir, int count, int files) {
    const QString tree = dir.filePath(QStringLiteral("tree"));
    for (int f = 0; f < count; ++f) {
        const QString folder = tree + QStringLiteral("/f%1").arg(f, 4, 10, QLatin1Char('0'));
        QDir().mkpath(folder);
        for (int i = 0; i < files; ++i)
            writeFile(folder + QStringLiteral("/%1.txt").arg(i), {});
    }
    return tree;
}

// The machine's file system, with every folder listing taking a while, so that a walk of a
// small tree spans many turns of the event loop.
class SlowFolders : public FolderSystem {
public:
    QChar separator() const override { return real_->separator(); }
    std::optional<int> attributes(const QString &path) const override {
        return real_->attributes(path);
    }
    bool isRootFolder(const QString &path) const override { return real_->isRootFolder(path); }
    mutable int listings = 0;
    QStringList subFolderNames(const QString &folder) const override {
        ++listings;
        QThread::msleep(2);
        return real_->subFolderNames(folder);
    }
    QStringList fileNames(const QString &folder) const override { return real_->fileNames(folder); }
    bool isOpenableFile(const QString &path) const override { return real_->isOpenableFile(path); }
    void endWalk() const override { real_->endWalk(); }

private:
    std::unique_ptr<FolderSystem> real_ = makeSystemFolderSystem();
};

// Drops the paths on the input list and lets the walk run.
void drop(Form1 &w, const QStringList &paths) {
    QMimeData data;
    QList<QUrl> urls;
    for (const QString &path : paths)
        urls << QUrl::fromLocalFile(path);
    data.setUrls(urls);
    dragAndDrop(w, &data);
    QCoreApplication::processEvents();
}

// A window with enough work queued for the command to take many turns.
struct LongCommand {
    QTemporaryDir dir;
    SlowFiles files = slowReads();
    Harness h{&files};
    QString listPath = dir.filePath(QStringLiteral("list.txt"));
    QString savePath = dir.filePath(QStringLiteral("saved.txt"));
    QByteArray listBytes = numberedLines("L", 40000);
    QStringList resultsAtStart;
    QString tree;
    SlowFolders folders;

    explicit LongCommand(Command command) {
        if (command == Command::Drop) {
            tree = makeTree(dir, 200, 5);
            h.w().setFolderSystem(folders);
        }
        writeFile(listPath, listBytes);
        writeFile(savePath, "previous\r\n");
        if (command == Command::Find) {
            TextStore items;
            for (int i = 0; i < 1500000; ++i)
                items.append(QStringLiteral("item %1").arg(i % 500000));
            h.w().inputList().appendItems(items);
        }
        if (command == Command::Save || command == Command::Copy) {
            TextStore rows;
            for (int i = 0; i < 600000; ++i)
                rows.append(QStringLiteral("row %1").arg(i));
            h.w().resultsList().appendItems(rows);
            resultsAtStart = itemsOf(h.w().resultsList());
        }
        h.dialogs.openAnswers << QStringList{listPath};
        h.dialogs.saveAnswers << savePath;
        h.dialogs.answers << Dialogs::Answer::Yes;
    }

    void start(Command command) {
        if (command == Command::Drop)
            return drop(h.w(), {tree});
        const char *buttons[] = {"PushButton5", "PushButton4", "PushButton6", "PushButton10"};
        h.button(buttons[int(command)])->click();
    }
};
} // namespace

class FaultsTest : public QObject {
    Q_OBJECT
private slots:
    void badListFiles_data();
    void badListFiles();
    void fileChangesWhileRead_data();
    void fileChangesWhileRead();
    void chosenFileChanges_data();
    void chosenFileChanges();
    void storm_data();
    void storm();
    void closeDuringCommand_data();
    void closeDuringCommand();
    void outOfMemory_data();
    void outOfMemory();
    void repeatedCycles();
    void dropFaults_data();
    void dropFaults();
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
    QTest::newRow("grows") << true;
    QTest::newRow("shrinks") << false;
}

// The lines read are the file's lines as they stood at some moment, never garbled.
void FaultsTest::fileChangesWhileRead() {
    QFETCH(bool, grows);
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
    QVERIFY(items.size() >= (grows ? 60000 : 0));
    QVERIFY(errorReports(h.dialogs).size() <= 1);
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

void FaultsTest::storm_data() {
    QTest::addColumn<Command>("command");
    QTest::newRow("load") << Command::Load;
    QTest::newRow("find") << Command::Find;
    QTest::newRow("save") << Command::Save;
    QTest::newRow("copy") << Command::Copy;
    QTest::newRow("drop") << Command::Drop;
}

// Every button, Delete and double-clicks, again and again, while a long command runs.
void FaultsTest::storm() {
    QFETCH(Command, command);
    LongCommand run(command);
    Form1 &w = run.h.w();
    QTableView *view = w.listView1();
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
            view->selectRow(0);
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

void FaultsTest::closeDuringCommand_data() {
    storm_data();
}

// The window closes in the middle: the command ends at its next turn, shows nothing more,
// and a file being saved keeps what it held.
void FaultsTest::closeDuringCommand() {
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

void FaultsTest::outOfMemory_data() {
    QTest::addColumn<QString>("command");
    QTest::newRow("load") << QStringLiteral("load");
    QTest::newRow("find") << QStringLiteral("find");
}

// Runs in a child process of this program under a limit on its address space.
void FaultsTest::outOfMemory() {
#if defined(__SANITIZE_ADDRESS__)
    QSKIP("the address sanitizer needs more address space than the limit leaves");
#endif
    QFETCH(QString, command);
    QProcess child;
    child.setProgram(QCoreApplication::applicationFilePath());
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("QUORVEL_OUT_OF_MEMORY"), command);
    child.setProcessEnvironment(env);
    child.start();
    QVERIFY(child.waitForFinished(120000));
    const QString output = QString::fromUtf8(child.readAllStandardOutput());
    QCOMPARE(child.exitCode(), 0);
    QVERIFY2(output.contains(QStringLiteral("report: Out of memory")), qPrintable(output));
    QVERIFY2(output.contains(QStringLiteral("usable afterwards")), qPrintable(output));
}

// The child's side: one command that runs out of memory, then the same window again.
static int outOfMemoryChild(const QString &command) {
    QTemporaryDir dir;
    Harness h;
    Form1 &w = h.w();
    w.inputList().appendItem(QStringLiteral("kept"));
    rlimit limit{};
    getrlimit(RLIMIT_AS, &limit);
    const rlim_t unlimited = limit.rlim_cur;
    QFile status(QStringLiteral("/proc/self/statm"));
    status.open(QIODevice::ReadOnly);
    const rlim_t used = status.readAll().split(' ').value(0).toULongLong() * 4096;
    if (command == QLatin1String("load")) {
        // A file larger than what is left, sparse so that it costs no disk.
        QFile big(dir.filePath(QStringLiteral("big.txt")));
        big.open(QIODevice::WriteOnly);
        big.resize(qint64(used) + (qint64(1) << 30));
        big.close();
        h.dialogs.openAnswers << QStringList{big.fileName()};
    } else {
        TextStore items;
        for (int i = 0; i < 3000000; ++i)
            items.append(QStringLiteral("item %1").arg(i));
        w.inputList().appendItems(items);
    }
    status.seek(0);
    // Room for the window's own turns, not for the command's work.
    const rlim_t room = command == QLatin1String("load") ? 256 << 20 : 8 << 20;
    limit.rlim_cur = status.readAll().split(' ').value(0).toULongLong() * 4096 + room;
    setrlimit(RLIMIT_AS, &limit);
    h.button(command == QLatin1String("load") ? "PushButton5" : "PushButton4")->click();
    limit.rlim_cur = unlimited;
    setrlimit(RLIMIT_AS, &limit);

    for (const QString &report : errorReports(h.dialogs))
        printf("report: %s\n", qPrintable(report));
    // Usable: what was there stays, and the next commands work.
    w.resultsList().clearItems();
    w.inputList().clearItems();
    for (const char *text : {"kept", "x", "kept"})
        w.inputList().appendItem(QString::fromLatin1(text));
    h.button("PushButton4")->click();
    if (!w.busyFlag() && w.mousePointer() == Form1::PointerDefault &&
        itemsOf(w.resultsList()) == QStringList{"kept"})
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

void FaultsTest::dropFaults_data() {
    QTest::addColumn<QString>("fault");
    QTest::newRow("dropped name not valid UTF-8") << QStringLiteral("bad name");
    QTest::newRow("folder vanishes during the walk") << QStringLiteral("vanishes");
    QTest::newRow("200 levels deep") << QStringLiteral("deep");
    QTest::newRow("path over 4096 bytes") << QStringLiteral("long");
    QTest::newRow("items added during the walk stay out of the folder's")
        << QStringLiteral("added meanwhile");
}

void FaultsTest::dropFaults() {
    QFETCH(QString, fault);
    QTemporaryDir dir;
    const QByteArray base = QFile::encodeName(dir.path());
    Harness h;
    Form1 &w = h.w();
    w.inputList().appendItem(QStringLiteral("old"));
    QStringList expected; // the items the drop adds; checked when not empty
    QTimer remover;
    SlowFolders folders;
    if (fault == QLatin1String("bad name")) {
        QVERIFY(::mkdir(base + "/bad\xff", 0755) == 0);
        QMimeData data;
        data.setData(QStringLiteral("text/uri-list"),
                     "file://" + base.toPercentEncoding("/") + "/bad%FF\r\n");
        dragAndDrop(w, &data);
        QCoreApplication::processEvents();
        ::rmdir(base + "/bad\xff");
    } else if (fault == QLatin1String("vanishes")) {
        const QString tree = makeTree(dir, 100, 5);
        w.setFolderSystem(folders);
        connect(&remover, &QTimer::timeout, [&] {
            remover.stop();
            QDir(tree + QStringLiteral("/f0099")).removeRecursively();
        });
        remover.start(0);
        drop(w, {tree});
        const QStringList items = itemsOf(w.inputList());
        QCOMPARE(items.filter(QStringLiteral("/f0099/")).size(), 0);
        QCOMPARE(items.size(), 1 + 99 * 5);
    } else if (fault == QLatin1String("added meanwhile")) {
        const QString tree = makeTree(dir, 400, 5);
        w.setFolderSystem(folders);
        QStringList tips; // the list's tooltip while the strip shows
        connect(&remover, &QTimer::timeout, [&] {
            h.dialogs.inputs << QStringLiteral("meanwhile");
            h.button("PushButton1")->click();
            if (!w.listView1Progress()->isHidden())
                tips << w.listView1()->viewport()->toolTip();
        });
        remover.start(20);
        drop(w, {tree});
        remover.stop();
        h.dialogs.shown.removeIf([](const FakeDialogs::Shown &s) { return s.kind == "input"; });
        const QStringList items = itemsOf(w.inputList());
        const auto first = std::find_if(items.cbegin(), items.cend(),
                                        [](const QString &item) {
                                            return item.contains(QStringLiteral("/tree/"));
                                        }) -
                           items.cbegin();
        QCOMPARE(items.mid(first, 400 * 5).filter(QStringLiteral("/tree/")).size(), 400 * 5);
        QVERIFY(items.count(QStringLiteral("meanwhile")) > 1);
        QVERIFY(!tips.isEmpty());
        QVERIFY2(tips.constLast().contains(QStringLiteral(" folders looked into, ")),
                 qPrintable(tips.constLast()));
        QVERIFY(!w.listView1()->viewport()->toolTip().contains(QStringLiteral("folders")));
    } else {
        // One file on every level; the names make a long path quickly.
        const bool deep = fault == QLatin1String("deep");
        const QByteArray name = deep ? QByteArray("d") : QByteArray(250, 'n');
        const int levels = deep ? 200 : 20;
        QByteArray path = base + "/top";
        int folder = ::open(base.constData(), O_RDONLY | O_DIRECTORY);
        QVERIFY(::mkdirat(folder, "top", 0755) == 0);
        int next = ::openat(folder, "top", O_RDONLY | O_DIRECTORY);
        ::close(folder);
        folder = next;
        for (int level = 0; level < levels; ++level) {
            ::close(::openat(folder, "x.txt", O_WRONLY | O_CREAT, 0644));
            if (path.size() + 6 < 4096)
                expected << QFile::decodeName(path + "/x.txt");
            QVERIFY(::mkdirat(folder, name.constData(), 0755) == 0);
            next = ::openat(folder, name.constData(), O_RDONLY | O_DIRECTORY);
            ::close(folder);
            folder = next;
            path += '/' + name;
        }
        ::close(folder);
        drop(w, {QFile::decodeName(base + "/top")});
        if (!deep) // QTemporaryDir cannot remove a path this long
            QProcess::execute(QStringLiteral("rm"), {QStringLiteral("-rf"), dir.path()});
    }
    QStringList items = itemsOf(w.inputList());
    QCOMPARE(items.takeFirst(), QStringLiteral("old"));
    items.removeAll(QStringLiteral("meanwhile"));
    if (!expected.isEmpty()) {
        std::sort(items.begin(), items.end());
        std::sort(expected.begin(), expected.end());
        QCOMPARE(items, expected);
    }
    if (fault == QLatin1String("bad name"))
        QCOMPARE(items, QStringList{});
    QCOMPARE(h.dialogs.shown.size(), 0);
    h.dialogs.inputs << QStringLiteral("after");
    h.button("PushButton1")->click();
    QCOMPARE(itemsOf(w.inputList()).constLast(), QStringLiteral("after"));
}

int main(int argc, char **argv) {
    QApplication app(argc, argv);
    const QString child = qEnvironmentVariable("QUORVEL_OUT_OF_MEMORY");
    if (!child.isEmpty())
        return outOfMemoryChild(child);
    FaultsTest test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_faults.moc"
