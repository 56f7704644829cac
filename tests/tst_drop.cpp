#include "FaultsSupport.h"
#include "TestSupport.h"

#include "engine/store/TextListModel.h"
#include "gui/views/ProgressStrip.h"
#include "MemoryFolderSystem.h"

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

class DropTest : public QObject {
    Q_OBJECT
private slots:
    void dropRealTree_data();
    void dropRealTree();
    void refusedDrags_data();
    void refusedDrags();
    void dropFaults_data();
    void dropFaults();
};

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
    // Then a drop the list takes: once its path is in, whatever the refused one had set going
    // would have ended before it.
    QTemporaryDir other;
    QMimeData taken;
    taken.setUrls({QUrl::fromLocalFile(writeFile(other.filePath(QStringLiteral("y.txt")), "y"))});
    QVERIFY(dragAndDrop(h.w(), &taken));
    QTRY_COMPARE(itemsOf(h.w().inputList()), QStringList{other.filePath(QStringLiteral("y.txt"))});
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
        QStringList tips, names; // the list's tooltip and the progress bar's name meanwhile
        const auto barName = [&] {
            return QAccessible::queryAccessibleInterface(w.listView1Progress())
                ->text(QAccessible::Name);
        };
        connect(&remover, &QTimer::timeout, [&] {
            h.dialogs.inputs << QStringLiteral("meanwhile");
            h.button("PushButton1")->click();
            if (!w.listView1Progress()->isHidden()) {
                tips << w.listView1()->viewport()->toolTip();
                names << barName();
            }
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
        QVERIFY(tips.constLast().endsWith(QLatin1Char('\n') + names.constLast()));
        QVERIFY(!w.listView1()->viewport()->toolTip().contains(QStringLiteral("folders")));
        // The next command's strip is named afresh.
        w.listView1Progress()->show();
        QCOMPARE(barName(), QStringLiteral("Progress"));
        w.listView1Progress()->hide();
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
