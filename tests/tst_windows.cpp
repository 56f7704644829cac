// The Windows seams on a real disk (built for Windows only; run under Wine by
// ./test --windows).
#include "FaultsSupport.h"
#include "TestSupport.h"

#include "engine/core/ErrorReport.h"
#include "engine/core/MemoryLimits.h"
#include "engine/list/AddFolder.h"
#include "engine/platform/FileSystem.h"
#include "engine/platform/FolderSystem.h"
#include "engine/spill/SpillFile.h"

#include <QDir>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

#include <windows.h>

namespace {
std::wstring wide(const QString &path) {
    return QDir::toNativeSeparators(path).toStdWString();
}

// The items a drop of the folder gives, walked on the real disk.
QStringList walkItems(const QString &folder) {
    const auto system = makeSystemFolderSystem();
    QStringList items;
    AddFolder walk(
        *system, nullptr, [](const QString &) {},
        [&](const TextStore &batch) {
            for (qsizetype i = 0; i < batch.size(); ++i)
                items << batch.text(i);
        });
    walk.DropPaths({folder});
    return items;
}

// A folder name that takes the paths below it past Windows' old limit of 260 characters.
const QString Long = QString(120, QLatin1Char('l'));

// Saves bytes through FileSystem; the failure's text, or empty.
QString save(const QString &path, const QByteArray &bytes) {
    try {
        FileSystem files;
        auto out = files.openForWriting(path);
        if (out->device().write(bytes) != bytes.size())
            return out->device().errorString();
        out->commit();
        return {};
    } catch (const Failure &failure) {
        return failure.description();
    }
}
} // namespace

class WindowsTest : public QObject {
    Q_OBJECT
private slots:
    void folderWalk();
    void linksAreNotFollowed();
    void saves_data();
    void saves();
    void devicesAreNotLists();
    void spillFilesLeaveNothing();
    void memoryBeyondTheSystemIsRefused();
    void findProgram();
};

// Hidden and system by their attributes, read-only by its own, not by a leading dot; names in
// UTF-16 whole.
void WindowsTest::folderWalk() {
    QTemporaryDir dir;
    const QString root = QDir::toNativeSeparators(dir.path());
    const QString cafe = QString::fromUtf8("caf\u00e9 \u2192 \U0001F600.txt");
    for (const QString &folder : {QStringLiteral("\\sub"), QStringLiteral("\\hidsys")})
        QVERIFY(QDir().mkpath(root + folder));
    for (const QString &file : {QStringLiteral("\\a.txt"), QStringLiteral("\\.dot.txt"),
                                QStringLiteral("\\hidden.txt"), QStringLiteral("\\ro.txt"),
                                QStringLiteral("\\sub\\") + cafe, QStringLiteral("\\hidsys\\x")})
        writeFile(root + file, "x");
    QVERIFY(SetFileAttributesW(wide(root + "\\hidden.txt").c_str(),
                               FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_ARCHIVE));
    QVERIFY(SetFileAttributesW(wide(root + "\\ro.txt").c_str(),
                               FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_ARCHIVE));
    QVERIFY(SetFileAttributesW(wide(root + "\\hidsys").c_str(), FILE_ATTRIBUTE_HIDDEN |
                                                                    FILE_ATTRIBUTE_SYSTEM |
                                                                    FILE_ATTRIBUTE_DIRECTORY));
    const auto system = makeSystemFolderSystem();
    QCOMPARE(system->attributes(root + "\\ro.txt"),
             std::optional<int>(FolderSystem::ReadOnly | FolderSystem::Archive));
    QCOMPARE(system->attributes(root + "\\.dot.txt"), std::optional<int>(FolderSystem::Archive));
    // Dropped on the window, as from Explorer.
    Harness h;
    drop(h.w(), {dir.path()});
    QTRY_COMPARE(itemsOf(h.w().inputList()),
                 QStringList({root + "\\.dot.txt", root + "\\a.txt", root + "\\ro.txt",
                              root + "\\sub\\" + cafe}));
    QVERIFY(system->isRootFolder(root.left(3)));
    QVERIFY(!system->isRootFolder(root));
}

// A symbolic link or junction to a folder is neither walked into nor listed.
void WindowsTest::linksAreNotFollowed() {
    QTemporaryDir dir;
    const QString root = QDir::toNativeSeparators(dir.path());
    QVERIFY(QDir().mkpath(root + "\\sub"));
    writeFile(root + "\\sub\\x.txt", "x");
    CreateSymbolicLinkW(wide(root + "\\link").c_str(), wide(root + "\\sub").c_str(),
                        SYMBOLIC_LINK_FLAG_DIRECTORY |
                            SYMBOLIC_LINK_FLAG_ALLOW_UNPRIVILEGED_CREATE);
    const DWORD link = GetFileAttributesW(wide(root + "\\link").c_str());
    if (link == INVALID_FILE_ATTRIBUTES || !(link & FILE_ATTRIBUTE_REPARSE_POINT))
        QSKIP("this system makes no symbolic links to folders here (Wine does not)");
    QCOMPARE(walkItems(root), QStringList({root + "\\sub\\x.txt"}));
}

void WindowsTest::saves_data() {
    QTest::addColumn<QString>("target");   // relative to a fresh folder
    QTest::addColumn<QString>("setup");    // "hidden", "readonly", "linked", "folder" or ""
    QTest::addColumn<QString>("failure");  // the save's failure, or empty
    QTest::addColumn<QByteArray>("after"); // the target's bytes afterwards

    QTest::newRow("new file") << "new.txt"
                              << ""
                              << "" << QByteArray("saved");
    QTest::newRow("hidden file stays hidden") << "h.txt"
                                              << "hidden"
                                              << "" << QByteArray("saved");
    QTest::newRow("read-only file refused, kept") << "r.txt"
                                                  << "readonly"
                                                  << "Permission denied" << QByteArray("old");
    QTest::newRow("hard link: both names see the save") << "l.txt"
                                                        << "linked"
                                                        << "" << QByteArray("saved");
    QTest::newRow("folder refused") << "f"
                                    << "folder"
                                    << "Is a directory" << QByteArray();
    QTest::newRow("past 260 characters") << Long + "\\" + Long + "\\long.txt"
                                         << ""
                                         << "" << QByteArray("saved");
    QTest::newRow("NUL written as a device, nothing replaced") << "NUL"
                                                               << "device"
                                                               << "" << QByteArray();
}

void WindowsTest::saves() {
    QFETCH(QString, target);
    QFETCH(QString, setup);
    QFETCH(QString, failure);
    QFETCH(QByteArray, after);
    QTemporaryDir dir;
    const QString path =
        setup == "device" ? target : QDir::toNativeSeparators(dir.filePath(target));
    const QString other = dir.filePath("other.txt");
    QVERIFY(QDir().mkpath(QFileInfo(path).absolutePath()));
    if (setup == "folder")
        QVERIFY(QDir().mkpath(path));
    else if (!setup.isEmpty() && setup != "device")
        writeFile(path, "old");
    if (setup == "hidden")
        QVERIFY(SetFileAttributesW(wide(path).c_str(), FILE_ATTRIBUTE_HIDDEN));
    if (setup == "readonly")
        QVERIFY(SetFileAttributesW(wide(path).c_str(), FILE_ATTRIBUTE_READONLY));
    if (setup == "linked")
        QVERIFY(CreateHardLinkW(wide(other).c_str(), wide(path).c_str(), nullptr));

    QCOMPARE(save(path, "saved"), failure);
    if (setup == "device") {
        QCOMPARE(QDir(dir.path()).entryList(QDir::NoDotAndDotDot | QDir::AllEntries),
                 QStringList());
        return;
    }
    if (setup != "folder")
        QCOMPARE(readFile(path), after);
    if (setup == "linked")
        QCOMPARE(readFile(other), after);
    if (setup == "hidden")
        QVERIFY(GetFileAttributesW(wide(path).c_str()) & FILE_ATTRIBUTE_HIDDEN);
    // Nothing is left beside the target.
    QDir folder(QFileInfo(path).absolutePath());
    QVERIFY(folder.entryList({"~quorvel-*"}, QDir::Files | QDir::Hidden).isEmpty());
}

// A device name in any folder, with any extension, is never read as a list.
void WindowsTest::devicesAreNotLists() {
    QTemporaryDir dir;
    for (const QString &name : {QStringLiteral("NUL"), QStringLiteral("con"),
                                dir.filePath("COM1.txt"), QStringLiteral("\\\\.\\NUL")}) {
        try {
            openRegularFile(name);
            QFAIL(qPrintable(name + " was opened as a list"));
        } catch (const Failure &failure) {
            QCOMPARE(failure.description(), QStringLiteral("Bad file mode"));
        }
    }
    const QString longPath = dir.filePath(Long + "/" + Long + "/list.txt");
    QVERIFY(QDir().mkpath(QFileInfo(longPath).absolutePath()));
    writeFile(longPath, "a\r\nb\r\n");
    QCOMPARE(openRegularFile(longPath)->readAll(), QByteArray("a\r\nb\r\n"));
}

void WindowsTest::spillFilesLeaveNothing() {
    QTemporaryDir dir;
    {
        TemporaryFile spill(QDir::toNativeSeparators(dir.path()));
        spill.append("0123456789");
        char back[4];
        QCOMPARE(spill.readAt(6, back, 4), std::size_t(4));
        QCOMPARE(QByteArray(back, 4), QByteArray("6789"));
    }
    QCOMPARE(QDir(dir.path()).entryList(QDir::NoDotAndDotDot | QDir::AllEntries | QDir::Hidden),
             QStringList());
    try {
        TemporaryFile spill(dir.filePath("gone"));
        QFAIL("a spill file in a missing folder");
    } catch (const TemporaryFailure &failure) {
        QVERIFY(!failure.description().isEmpty());
    }
}

// More than the system could ever commit is "Out of memory" before anything is added.
void WindowsTest::memoryBeyondTheSystemIsRefused() {
    QVERIFY_THROWS_EXCEPTION(std::bad_alloc, memory::ensureRoomFor(qint64(1) << 56));
    memory::ensureRoomFor(qint64(1) << 20);
    QVERIFY(memory::physicalMemory() < memory::Unlimited);
}

// quorvel-find.exe: a file named in UTF-16, its results as bytes (no CR put before the LF),
// and a kill mid-spill leaves no temporary file.
void WindowsTest::findProgram() {
    QTemporaryDir dir, temp;
    const QString list = dir.filePath(QString::fromUtf8("list \u00e9 \U0001F600.txt"));
    writeFile(list, "a\xF0\x9F\x98\x80\nb\r\na\xF0\x9F\x98\x80\nb\n");
    QProcess find;
    find.start(QStringLiteral(QUORVEL_FIND), {QStringLiteral("--lf"), list});
    QVERIFY(find.waitForFinished());
    QCOMPARE(find.readAllStandardError(), QByteArray());
    QCOMPARE(find.readAllStandardOutput(), QByteArray("a\xF0\x9F\x98\x80\nb\n"));
    QCOMPARE(find.exitCode(), 0);

    find.start(QStringLiteral(QUORVEL_FIND),
               {QStringLiteral("--memory"), QStringLiteral("64K"), QStringLiteral("--temp-dir"),
                QDir::toNativeSeparators(temp.path())});
    QVERIFY(find.waitForStarted());
    QByteArray lines;
    for (int i = 0; i < 200000; ++i)
        lines += QByteArray::number(i * 7919 % 50000) + "\r\n";
    find.write(lines); // standard input stays open: the list never ends
    QTRY_VERIFY(!QDir(temp.path()).isEmpty());
    find.kill();
    QVERIFY(find.waitForFinished());
    QTRY_COMPARE(QDir(temp.path()).entryList(QDir::NoDotAndDotDot | QDir::AllEntries),
                 QStringList());
}

QTEST_MAIN(WindowsTest)
#include "tst_windows.moc"
