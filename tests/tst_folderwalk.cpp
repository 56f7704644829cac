#include "FaultsSupport.h"
#include "TestSupport.h"

#include "engine/list/AddFolder.h"
#include "engine/store/TextListModel.h"
#include "MemoryFolderSystem.h"

#include <QMimeData>
#include <QTest>

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

class FolderWalkTest : public QObject {
    Q_OBJECT
private slots:
    void walk_data();
    void walk();
    void walkFailureIsReported();
    void failedDropKeepsItems();
};

void FolderWalkTest::walk_data() {
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
    QTest::newRow("dropped with /, walked and shown with \\")
        << back << L{"f C:\\t\\x", "f C:\\t\\s\\y"} << L{"C:/t"} << L{"C:\\t\\x", "C:\\t\\s\\y"};
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

void FolderWalkTest::walk() {
    QFETCH(QChar, separator);
    QFETCH(QStringList, tree);
    QFETCH(QStringList, dropped);
    QFETCH(QStringList, items);
    QStringList reports;
    QCOMPARE(dropItems(buildTree(separator, tree), dropped, reports), items);
    QCOMPARE(reports, QStringList());
}

void FolderWalkTest::walkFailureIsReported() {
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

void FolderWalkTest::failedDropKeepsItems() {
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

QTEST_MAIN(FolderWalkTest)
#include "tst_folderwalk.moc"
