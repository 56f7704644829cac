#include "FaultsSupport.h"
#include "TestSupport.h"

#include "list/AddFolder.h"
#include "list/TextListModel.h"
#include "MemoryFolderSystem.h"
#include "ui/ProgressStrip.h"

#include <QDir>
#include <QDropEvent>
#include <QFile>
#include <QHeaderView>
#include <QMimeData>
#include <QProcess>
#include <QScrollBar>
#include <QTest>
#include <QTimer>
#include <QUrl>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {
// A tree in one line per entry: "d path [attributes]" a folder, "f path [attributes]" a file,
// "x path" a file that cannot be opened, "e path code" a folder whose listing fails.
MemoryFolderSystem buildTree(QChar separator, const QStringList &entries) {
    MemoryFolderSystem tree(separator);
    for (const QString &entry : entries) {
        const QStringList parts = entry.split(QLatin1Char(' '));
        const int value = parts.size() > 2 ? parts[2].toInt() : 0;
        switch (parts[0].at(0).toLatin1()) {
        case 'd':
            tree.addFolder(parts[1], value ? value : FolderSystem::Directory);
            break;
        case 'f':
            tree.addFile(parts[1], value ? value : FolderSystem::Archive);
            break;
        case 'x':
            tree.addFile(parts[1], FolderSystem::Archive, false);
            break;
        case 'e':
            tree.failListing(parts[1], value);
            break;
        }
    }
    return tree;
}

// Fails where a real disk rarely does: reading attributes of paths holding "boom", and
// testing files holding "oom".
class FailingFolders : public MemoryFolderSystem {
public:
    std::optional<int> attributes(const QString &path) const override {
        if (path.contains(QLatin1String("boom")))
            throw Failure(QStringLiteral("Disk error"));
        return MemoryFolderSystem::attributes(path);
    }
    bool isOpenableFile(const QString &path) const override {
        if (path.contains(QLatin1String("oom")) && !path.contains(QLatin1String("boom")))
            throw std::bad_alloc();
        return MemoryFolderSystem::isOpenableFile(path);
    }
};

// The items a drop gives on its own, without a window.
QStringList dropItems(const FolderSystem &files, const QStringList &dropped, QStringList &reports) {
    QStringList items;
    AddFolder walk(
        files, nullptr, [&](const QString &text) { reports << text; },
        [&](const TextStore &batch) {
            for (qsizetype i = 0; i < batch.size(); ++i)
                items << batch.text(i);
        });
    walk.DropPaths(dropped);
    return items;
}
} // namespace

class DropTest : public QObject {
    Q_OBJECT
private slots:
    void walk_data();
    void walk();
    void walkFailureIsReported();
    void failedDropKeepsItems();
    void dropRealTree_data();
    void dropRealTree();
    void refusedDrags_data();
    void refusedDrags();
    void dropFaults_data();
    void dropFaults();
};

void DropTest::walk_data() {
    QTest::addColumn<QChar>("separator");
    QTest::addColumn<QStringList>("tree");
    QTest::addColumn<QStringList>("dropped");
    QTest::addColumn<QStringList>("items");
    const QChar slash('/'), back('\\');
    using L = QStringList;

    QTest::newRow("tilde files") << slash << L{"f /t/x.txt", "f /t/~x.txt"} << L{"/t"}
                                 << L{"/t/x.txt"};
    QTest::newRow("34 left out, 38 and 35 listed")
        << slash << L{"f /t/a 34", "f /t/b 38", "f /t/c 35", "x /t/d"} << L{"/t"}
        << L{"/t/b", "/t/c"};
    QTest::newRow("subfolder 22 left out with all below")
        << slash << L{"d /t/s 22", "f /t/s/x", "f /t/s/deep/y", "d /t/h 18", "f /t/h/v", "f /t/z"}
        << L{"/t"} << L{"/t/z", "/t/h/v"};
    QTest::newRow("subfolder 1046 left out")
        << slash << L{"d /t/s 1046", "f /t/s/x", "d /t/r 1040", "f /t/r/y"} << L{"/t"}
        << L{"/t/r/y"};
    QTest::newRow("dropped folder of 22 lists its own files")
        << slash << L{"d /t 22", "f /t/x", "f /t/s/y"} << L{"/t"} << L{"/t/x"};
    QTest::newRow("drive root of 22 descended, one backslash")
        << back << L{"d C: 22", "f C:\\x", "f C:\\s\\y"} << L{"C:\\"} << L{"C:\\x", "C:\\s\\y"};
    QTest::newRow("slash root, one leading slash")
        << slash << L{"d / 22", "f /x", "f /s/y"} << L{"/"} << L{"/x", "/s/y"};
    QTest::newRow("listing fails with 70 or 76: left out, siblings listed")
        << slash << L{"f /t/a/x", "f /t/b/y",  "e /t/b 70", "f /t/b/c/w", "f /t/c/z",
                      "f /t/d/v", "e /t/d 76", "f /t/e/u",  "e /t/e 5"}
        << L{"/t"} << L{"/t/a/x", "/t/c/z", "/t/e/u"};
    QTest::newRow("folder after a removed one looked into")
        << slash << L{"f /t/a/x", "e /t/a 70", "f /t/b/s/y", "d /t/c", "e /t/c 76", "f /t/d/s/z"}
        << L{"/t"} << L{"/t/b/s/y", "/t/d/s/z"};
    QTest::newRow("U+009F subfolder left out, U+00A0 kept")
        << slash << L{QString::fromUtf8("f /t/a\u009fb/x"), QString::fromUtf8("f /t/c\u00a0d/y")}
        << L{"/t"} << L{QString::fromUtf8("/t/c\u00a0d/y")};
    QTest::newRow("dropped folder that cannot be listed")
        << slash << L{"f /t/x", "e /t 70"} << L{"/t"} << L{};
    QTest::newRow("odd subfolder names; odd file names listed")
        << slash
        << L{"f /t/a\x01"
             "b/x",
             "f /t/c\x7f"
             "d/x",
             QString::fromUtf8("f /t/e\u0085f/x"),
             QString::fromUtf8("f /t/\u00e9t\u00e9/x"),
             "f /t/g?h/x",
             "f /t/./x",
             "f /t/f\x01.txt"}
        << L{"/t"} << L{"/t/f\x01.txt", QString::fromUtf8("/t/\u00e9t\u00e9/x")};
    QTest::newRow("level order across three levels, sorted by name")
        << slash << L{"f /t/b/b1/v", "f /t/A/a1/x", "f /t/A/y", "f /t/b/z", "f /t/W", "f /t/c"}
        << L{"/t"} << L{"/t/c", "/t/W", "/t/A/y", "/t/b/z", "/t/A/a1/x", "/t/b/b1/v"};
    QTest::newRow("two folders in one drop")
        << slash << L{"f /t/a/x", "f /t/b/y", "f /t/a/s/z"} << L{"/t/a", "/t/b"}
        << L{"/t/a/x", "/t/a/s/z", "/t/b/y"};
    QTest::newRow("files and a folder in order, files as given")
        << slash << L{"f /f1", "f /t/x", "f /f2"} << L{"/f1", "/t", "//gone//f2", "/f1"}
        << L{"/f1", "/t/x", "//gone//f2", "/f1"};
    QTest::newRow("empty folder") << slash << L{"d /t"} << L{"/t"} << L{};

    // Folder paths (with their final separator) at the limit are kept but not looked into;
    // names at the limit are left out.
    for (const auto &[separator, root, limit] : {std::tuple{back, QStringLiteral("C:\\t"), 260},
                                                 std::tuple{slash, QStringLiteral("/t"), 4096}}) {
        const QString sep(separator);
        const qsizetype room = limit - root.size() - 2; // a name making "root\name\" too long
        const QString atLimit = root + sep + QString(room, QLatin1Char('a'));
        const QString below = root + sep + QString(room - 1, QLatin1Char('b'));
        const QString longName = root + sep + QString(limit, QLatin1Char('c'));
        QTest::addRow("path limit %d", limit)
            << separator
            << L{"f " + atLimit + sep + "x", "f " + atLimit + sep + "s" + sep + "y",
                 "f " + below + sep + "x", "f " + below + sep + "s" + sep + "y",
                 "f " + longName + sep + "z"}
            << L{root} << L{atLimit + sep + "x", below + sep + "x", below + sep + "s" + sep + "y"};
    }
}

void DropTest::walk() {
    QFETCH(QChar, separator);
    QFETCH(QStringList, tree);
    QFETCH(QStringList, dropped);
    QFETCH(QStringList, items);
    QStringList reports;
    QCOMPARE(dropItems(buildTree(separator, tree), dropped, reports), items);
    QCOMPARE(reports, QStringList());
}

void DropTest::walkFailureIsReported() {
    FailingFolders files;
    for (const char *file : {"/t/a/x", "/t/boom/y", "/t/c/z"})
        files.addFile(QString::fromLatin1(file));
    QStringList reports;
    const QStringList items = dropItems(files, {QStringLiteral("/t")}, reports);
    // Looking into the folder fails quietly; keeping it fails with a report, and the walk
    // goes on with its siblings.
    QCOMPARE(reports,
             QStringList{errorReportText(QString::fromLatin1(ErrorLocation::GetSubDirectories2016),
                                         "Disk error", 154)});
    QCOMPARE(items, (QStringList{"/t/a/x", "/t/c/z"}));
}

void DropTest::failedDropKeepsItems() {
    FailingFolders files;
    for (const char *file : {"/f", "/t/oom", "/t/x"})
        files.addFile(QString::fromLatin1(file));
    Harness h;
    h.w().setFolderSystem(files);
    QMimeData data;
    data.setUrls(urlsOf({"/f", "/t", "/g"}));
    QVERIFY(dragAndDrop(h.w(), &data));
    // The drop stops at the refused folder: /g after it is not added either.
    QTRY_COMPARE(h.dialogs.shown.size(), 1);
    QCOMPARE(h.dialogs.shown[0].text,
             errorReportText(QString::fromLatin1(ErrorLocation::ListView1OLEDragDrop),
                             "Out of memory", 100));
    QCOMPARE(h.dialogs.shown[0].title, QStringLiteral("Application Error"));
    QCOMPARE(itemsOf(h.w().inputList()), QStringList{"/f"});
}

// Where a drop lands on the input list, reached through the window, which it shows.
QWidget *partOfList(Form1 &w, const QString &part) {
    ReportView *view = w.listView1();
    if (part.isEmpty())
        return nullptr;
    if (part == QLatin1String("scroll bar"))
        view->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    w.show();
    if (part == QLatin1String("header"))
        return view->horizontalHeader()->viewport();
    return part == QLatin1String("scroll bar") ? view->verticalScrollBar() : view->viewport();
}

void DropTest::dropRealTree_data() {
    QTest::addColumn<QString>("part"); // empty: events sent to the rows' area itself
    QTest::addColumn<int>("actions");  // what the file manager offers
    QTest::addColumn<int>("taken");
    const int copyMove = Qt::CopyAction | Qt::MoveAction;
    QTest::newRow("on the rows") << QString() << copyMove << int(Qt::CopyAction);
    QTest::newRow("through the window on the rows") << "rows" << copyMove << int(Qt::CopyAction);
    QTest::newRow("on the header") << "header" << copyMove << int(Qt::CopyAction);
    QTest::newRow("on the scroll bar") << "scroll bar" << copyMove << int(Qt::CopyAction);
    QTest::newRow("offering copy, link and move: a copy")
        << QString() << (copyMove | Qt::LinkAction) << int(Qt::CopyAction);
    QTest::newRow("offering link and move: a link")
        << QString() << int(Qt::LinkAction | Qt::MoveAction) << int(Qt::LinkAction);
}

// The real file system through a drop on the view.
void DropTest::dropRealTree() {
    QFETCH(QString, part);
    QFETCH(int, actions);
    QFETCH(int, taken);
    QTemporaryDir dir;
    const QString t = dir.filePath(QStringLiteral("tree"));
    const QByteArray base = QFile::encodeName(dir.path()) + '/';
    // Raw names, since the invalid ones have no text form.
    for (const char *folder : {"tree", "tree/sub", "tree/sub/deeper", "tree/bad\xff"})
        QCOMPARE(::mkdir(base + folder, 0755), 0);
    for (const char *file :
         {"tree/b.txt", "tree/A.txt", "tree/.hidden", "tree/~lock", "tree/sub/c.txt",
          "tree/sub/deeper/d.txt", "tree/bad\xff/e.txt", "tree/f\xfe.txt", "single.txt"}) {
        FILE *f = std::fopen(base + file, "w");
        QVERIFY(f);
        std::fclose(f);
    }
    const QByteArray tree = QFile::encodeName(t);
    // Hidden but read-only by its mode, for root too: listed.
    writeFile(t + "/.readonly", {});
    QCOMPARE(::chmod((tree + "/.readonly").constData(), 0444), 0);
    QCOMPARE(::mkfifo((tree + "/pipe").constData(), 0600), 0);
    QCOMPARE(::symlink(tree.constData(), (tree + "/sub/loop").constData()), 0);
    QCOMPARE(::symlink("b.txt", (tree + "/link.txt").constData()), 0);
    QCOMPARE(::symlink("nowhere", (tree + "/dangling").constData()), 0);

    Harness h;
    h.w().inputList().appendItem(QStringLiteral("old"));
    QWidget *over = partOfList(h.w(), part);
    QVERIFY(!over || QTest::qWaitForWindowExposed(&h.w()));
    const QString single = dir.filePath(QStringLiteral("single.txt"));
    QMimeData data;
    data.setUrls(urlsOf({single, t}));
    Qt::DropAction told = Qt::IgnoreAction;
    QVERIFY(dragAndDrop(h.w(), &data, Qt::DropActions(actions), over, nullptr, &told));
    QCOMPARE(int(told), taken);
    // The walk waits until the drop has returned to the file manager.
    QCOMPARE(h.w().inputList().itemCount(), 1);
    const QStringList expected{QStringLiteral("old"), single,           t + "/.readonly",
                               t + "/A.txt",          t + "/b.txt",     t + "/link.txt",
                               t + "/pipe",           t + "/sub/c.txt", t + "/sub/deeper/d.txt"};
    QTRY_COMPARE(itemsOf(h.w().inputList()), expected);
    QCOMPARE(h.w().mousePointer(), int(Form1::PointerDefault));
    QCOMPARE(h.dialogs.shown.size(), 0);
    // Names the temporary folder cannot remove by their text.
    ::unlink(base + "tree/bad\xff/e.txt");
    ::rmdir(base + "tree/bad\xff");
    ::unlink(base + "tree/f\xfe.txt");
}

void DropTest::refusedDrags_data() {
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("url"); // "scratch": a folder of the test's own
    QTest::addColumn<int>("actions");
    QTest::addColumn<QString>("part");
    QTest::newRow("text") << "/tmp" << QString() << int(Qt::CopyAction) << QString();
    QTest::newRow("remote URL only")
        << QString() << "https://example.org/a" << int(Qt::CopyAction) << QString();
    QTest::newRow("move only") << QString() << "scratch" << int(Qt::MoveAction) << QString();
    QTest::newRow("text on the header") << "/tmp" << QString() << int(Qt::CopyAction) << "header";
    QTest::newRow("move only on the scroll bar")
        << QString() << "scratch" << int(Qt::MoveAction) << "scroll bar";
}

void DropTest::refusedDrags() {
    QFETCH(QString, text);
    QFETCH(QString, url);
    QFETCH(int, actions);
    QFETCH(QString, part);
    QTemporaryDir scratch;
    writeFile(scratch.filePath(QStringLiteral("x.txt")), "x");
    QMimeData data;
    if (!text.isEmpty())
        data.setText(text);
    if (!url.isEmpty())
        data.setUrls(
            {url == QLatin1String("scratch") ? QUrl::fromLocalFile(scratch.path()) : QUrl(url)});
    Harness h;
    QWidget *over = partOfList(h.w(), part);
    QVERIFY(!over || QTest::qWaitForWindowExposed(&h.w()));
    bool entered = true;
    QVERIFY(!dragAndDrop(h.w(), &data, Qt::DropActions(actions), over, &entered));
    QVERIFY(!entered); // the no-drop pointer while the drag is over the list
    QTest::qWait(20);
    QCOMPARE(h.w().inputList().itemCount(), 0);
}

void DropTest::dropFaults_data() {
    QTest::addColumn<QString>("fault");
    QTest::newRow("dropped name not valid UTF-8") << QStringLiteral("bad name");
    QTest::newRow("folder vanishes during the walk") << QStringLiteral("vanishes");
    QTest::newRow("200 levels deep") << QStringLiteral("deep");
    QTest::newRow("path over 4096 bytes") << QStringLiteral("long");
    QTest::newRow("items added during the walk stay out of the folder's")
        << QStringLiteral("added meanwhile");
}

void DropTest::dropFaults() {
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

QTEST_MAIN(DropTest)

#include "tst_drop.moc"
