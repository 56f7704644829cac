#include "ReaderFakes.h"
#include "TestSupport.h"

#include "engine/core/ErrorReport.h"
#include "engine/core/TimeSlice.h"
#include "engine/list/ListFileReader.h"
#include "engine/list/NormalizePath.h"
#include "engine/store/TextListModel.h"

#include <QBuffer>
#include <QDir>
#include <QFile>
#include <QScopeGuard>
#include <QStringEncoder>
#include <QTest>
#include <QThread>
#include <QTimer>

#include <cstring>

#ifndef Q_OS_WIN
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/un.h>
#include <unistd.h>
#endif

namespace {
QString writeFile(const QTemporaryDir &dir, const QString &name, const QByteArray &bytes) {
    const QString path = dir.filePath(name);
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size())
        qFatal("cannot write %s", qPrintable(path));
    return path;
}

// Fails reads of the files whose names end in "bad.txt" at the given offset, and notes
// the window's pointer each time a file is opened.
class TestFiles : public FileSystem {
public:
    Form1 *window = nullptr;
    qint64 failAt = 0;
    QList<int> pointers;

    std::unique_ptr<QIODevice> openForReading(const QString &path) override {
        if (window)
            pointers << window->mousePointer();
        if (path.endsWith(QLatin1String("pipe.txt")))
            return std::make_unique<Pipe>("a\r\nb\r\n");
        if (!path.endsWith(QLatin1String("bad.txt")))
            return FileSystem::openForReading(path);
        QFile file(path);
        if (!file.open(QIODevice::ReadOnly))
            throw Failure(file.errorString());
        return std::make_unique<FailingBuffer>(file.readAll(), failAt);
    }
};

const QString Missing = QStringLiteral("<missing>");

#ifndef Q_OS_WIN
bool bindSocket(int socket, const QByteArray &path) {
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    if (socket < 0 || size_t(path.size()) >= sizeof address.sun_path)
        return false;
    std::memcpy(address.sun_path, path.constData(), size_t(path.size()));
    return ::bind(socket, reinterpret_cast<sockaddr *>(&address), sizeof address) == 0;
}
#endif
} // namespace

class LoadingTest : public QObject {
    Q_OBJECT
private slots:
    void loadDialog();
    void loadCancelled();
    void loadFiles_data();
    void loadFiles();
    void loadReadFailure_data();
    void loadReadFailure();
    void secondLoadDuringLoad();
    void saveDuringLoad();
    void specialFiles_data();
    void specialFiles();
};

void LoadingTest::loadDialog() {
    Harness h;
    h.button("PushButton5")->click();
    QCOMPARE(h.dialogs.shown.size(), 1);
    const auto &open = h.dialogs.shown.first();
    QCOMPARE(open.kind, QStringLiteral("open"));
    QCOMPARE(open.title, QStringLiteral("Load List(s) - Hold Ctrl to select multiple list files"));
    QCOMPARE(open.filter, QStringLiteral("Text Files (*.txt)|*.txt|All Files (*.*)|*.*|"));
}

void LoadingTest::loadCancelled() {
    Harness h;
    h.w().inputList().appendItem(QStringLiteral("old"));
    h.w().setMousePointer(Form1::PointerArrow);
    h.button("PushButton5")->click();
    QCOMPARE(h.dialogs.shown.size(), 1); // the open dialog only
    QCOMPARE(h.w().inputList().itemCount(), 1);
    QCOMPARE(h.w().mousePointer(), int(Form1::PointerArrow));
}

void LoadingTest::loadFiles_data() {
    QTest::addColumn<QStringList>("files"); // contents, or Missing
    QTest::addColumn<QStringList>("items"); // after an item already in the list
    QTest::newRow("one file") << QStringList{"a\r\nb\r\n"} << QStringList{"old", "a", "b"};
    QTest::newRow("one missing file") << QStringList{Missing} << QStringList{"old"};
    QTest::newRow("two files") << QStringList{"a\r\n", "b"} << QStringList{"old", "a", "b"};
    QTest::newRow("three, middle missing")
        << QStringList{"a\r\nb", Missing, "c\r\n"} << QStringList{"old", "a", "b", "c"};
}

void LoadingTest::loadFiles() {
    QFETCH(QStringList, files);
    QFETCH(QStringList, items);
    QTemporaryDir dir;
    QStringList paths;
    for (qsizetype i = 0; i < files.size(); ++i) {
        const QString name = QStringLiteral("list%1.txt").arg(i);
        paths << (files[i] == Missing ? dir.filePath(name)
                                      : writeFile(dir, name, files[i].toUtf8()));
    }
    TestFiles fileSystem;
    Harness h(&fileSystem);
    fileSystem.window = &h.w();
    h.w().inputList().appendItem(QStringLiteral("old"));
    h.dialogs.openAnswers.enqueue(paths);
    QList<int> pointersAtMessage;
    h.dialogs.onShow = [&](const FakeDialogs::Shown &) {
        pointersAtMessage << h.w().mousePointer();
    };

    h.button("PushButton5")->click();

    QStringList loaded;
    for (int i = 1; i <= h.w().inputList().itemCount(); ++i)
        loaded << h.w().inputList().itemText(i);
    QCOMPARE(loaded, items);
    const qsizetype missing = files.count(Missing);
    QCOMPARE(h.dialogs.shown.size(), 1 + missing);
    for (qsizetype i = 1; i < h.dialogs.shown.size(); ++i) {
        const auto &box = h.dialogs.shown[i];
        QCOMPARE(box.kind, QStringLiteral("message"));
        QCOMPARE(box.text, QStringLiteral("File not found"));
        QCOMPARE(box.title, QStringLiteral("Quorvel"));
        QCOMPARE(box.buttons, Dialogs::Buttons::Ok);
        QCOMPARE(box.icon, Dialogs::Icon::None);
        QCOMPARE(pointersAtMessage[i], int(Form1::PointerHourglass));
    }
    QCOMPARE(fileSystem.pointers, QList<int>(files.size() - missing, int(Form1::PointerHourglass)));
    QCOMPARE(h.w().mousePointer(), int(Form1::PointerDefault));
}

void LoadingTest::loadReadFailure_data() {
    QTest::addColumn<QStringList>("names");
    QTest::addColumn<QStringList>("items");
    QTest::addColumn<QString>("location");
    QTest::newRow("one file") << QStringList{"bad.txt"} << QStringList{"one", "two"}
                              << QStringLiteral("PushButton5_Click at line 120");
    QTest::newRow("several files")
        << QStringList{"first.txt", "bad.txt", "last.txt"} << QStringList{"a", "one", "two", "z"}
        << QStringLiteral("PushButton5_Click at line 134");
    QTest::newRow("a pipe") << QStringList{"pipe.txt"} << QStringList{}
                            << QStringLiteral("PushButton5_Click at line 120");
}

void LoadingTest::loadReadFailure() {
    QFETCH(QStringList, names);
    QFETCH(QStringList, items);
    QFETCH(QString, location);
    QTemporaryDir dir;
    QStringList paths;
    for (const QString &name : names)
        paths << writeFile(dir, name,
                           name == QLatin1String("bad.txt")     ? QByteArray("one\r\ntwo\r\nthree")
                           : name == QLatin1String("first.txt") ? QByteArray("a\r\n")
                                                                : QByteArray("z"));
    TestFiles fileSystem;
    fileSystem.failAt = 13;
    Harness h(&fileSystem);
    h.dialogs.openAnswers.enqueue(paths);

    h.button("PushButton5")->click();

    QCOMPARE(h.dialogs.shown.size(), 2);
    const auto &report = h.dialogs.shown[1];
    QCOMPARE(report.title, QStringLiteral("Application Error"));
    QCOMPARE(report.icon, Dialogs::Icon::Warning);
    const QString why = names.contains(QStringLiteral("pipe.txt")) ? QStringLiteral("Bad file mode")
                                                                   : QStringLiteral("Bad sector");
    QVERIFY2(
        report.text.startsWith(why + QStringLiteral("\r\nin Quorvel2021/08/31.Form1.") + location),
        qPrintable(report.text));
    QCOMPARE(h.w().mousePointer(), int(Form1::PointerDefault));
    QStringList loaded;
    for (int i = 1; i <= h.w().inputList().itemCount(); ++i)
        loaded << h.w().inputList().itemText(i);
    QCOMPARE(loaded, items);
}

void LoadingTest::secondLoadDuringLoad() {
    QTemporaryDir dir;
    QByteArray lines;
    for (int i = 0; i < 200000; ++i) // more than one block of the reader
        lines += QByteArray::number(i) + "\r\n";
    const QString first = writeFile(dir, QStringLiteral("first.txt"), lines);
    const QString second = writeFile(dir, QStringLiteral("second.txt"), "x\r\n");
    SlowFiles files;
    Harness h(&files);
    h.dialogs.openAnswers << QStringList{first} << QStringList{second};
    h.dialogs.inputs << QStringLiteral("typed");
    int pointerAfterInner = -1;
    QTimer::singleShot(0, &h.w(), [&] {
        h.button("PushButton5")->click(); // refused: the first file is still being read
        h.button("PushButton1")->click(); // an item added among the lines read so far
        h.button("PushButton4")->click(); // a search runs on them and ends meanwhile
        pointerAfterInner = h.w().mousePointer();
        h.button("PushButton7")->click(); // Clear List: still refused
    });
    h.button("PushButton5")->click();

    QCOMPARE(pointerAfterInner, int(Form1::PointerHourglass));
    QCOMPARE(h.w().mousePointer(), int(Form1::PointerDefault));
    const QStringList items = itemsOf(h.w().inputList());
    QCOMPARE(items.size(), 200001);
    const qsizetype typed = items.indexOf(QStringLiteral("typed"));
    QVERIFY2(typed > 0 && typed < 200000, qPrintable(QString::number(typed)));
    QCOMPARE(items[typed - 1], QString::number(typed - 1));
    QCOMPARE(items[typed + 1], QString::number(typed));
    QCOMPARE(items.last(), QStringLiteral("199999"));
    const QStringList messages = h.dialogs.messageTexts();
    QCOMPARE(messages.size(), 2);
    QVERIFY2(messages[0].startsWith(QStringLiteral(
                 "File already open\r\nin Quorvel2021/08/31.Form1.PushButton5_Click at line 120")),
             qPrintable(messages[0]));
    QCOMPARE(messages[1], QStringLiteral("Done."));
}

void LoadingTest::saveDuringLoad() {
    QTemporaryDir dir;
    const QString list = writeFile(dir, QStringLiteral("list.txt"), "a\r\nb\r\n");
    const QString out = dir.filePath(QStringLiteral("out.txt"));
    SlowFiles files;
    Harness h(&files);
    h.w().resultsList().appendItem(QStringLiteral("r"));
    h.dialogs.openAnswers << QStringList{list};
    h.dialogs.saveAnswers << out;
    QTimer::singleShot(0, &h.w(), [&] { h.button("PushButton6")->click(); });
    h.button("PushButton5")->click();

    QCOMPARE(h.w().inputList().itemCount(), 2);
    QVERIFY(!QFile::exists(out));
    QCOMPARE(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden), QStringList{"list.txt"});
    const QStringList messages = h.dialogs.messageTexts();
    QCOMPARE(messages.size(), 1);
    QVERIFY2(messages[0].startsWith(QStringLiteral(
                 "File already open\r\nin Quorvel2021/08/31.Form1.PushButton6_Click at line 116")),
             qPrintable(messages[0]));
}

// Only regular files are read; anything else is refused before it is opened, so nothing
// can block the window or read without end.
void LoadingTest::specialFiles_data() {
    QTest::addColumn<QString>("kind");
    QTest::addColumn<QStringList>("items"); // after "old"; empty: refused
    QTest::newRow("folder") << QStringLiteral("folder") << QStringList{};
#ifdef Q_OS_WIN
    // Windows' device names, in any folder and with any extension.
    QTest::newRow("NUL") << QStringLiteral("NUL") << QStringList{};
    QTest::newRow("CON") << QStringLiteral("CON") << QStringList{};
    QTest::newRow("COM1.txt in a folder") << QStringLiteral("COM1.txt") << QStringList{};
#else
    QTest::newRow("named pipe without a writer") << QStringLiteral("pipe") << QStringList{};
    QTest::newRow("endless device") << QStringLiteral("zero device") << QStringList{};
    QTest::newRow("socket") << QStringLiteral("socket") << QStringList{};
    QTest::newRow("link to a pipe") << QStringLiteral("link to pipe") << QStringList{};
    QTest::newRow("link to a file") << QStringLiteral("link to file") << QStringList{"x"};
#endif
}

void LoadingTest::specialFiles() {
    QFETCH(QString, kind);
    QFETCH(QStringList, items);
    QTemporaryDir dir;
#ifdef Q_OS_WIN
    const QString path = kind == QLatin1String("folder")   ? dir.filePath(QStringLiteral("list"))
                         : kind.contains(QLatin1Char('.')) ? dir.filePath(kind)
                                                           : kind;
    const bool made = kind != QLatin1String("folder") || QDir(dir.path()).mkdir("list");
#else
    const QString path = dir.filePath(QStringLiteral("list"));
    const QByteArray name = QFile::encodeName(path);
    const int socket = ::socket(AF_UNIX, SOCK_STREAM, 0);
    const auto closeSocket = qScopeGuard([&] { ::close(socket); });
    bool made = true;
    if (kind == QLatin1String("pipe"))
        made = ::mkfifo(name.constData(), 0644) == 0;
    else if (kind == QLatin1String("zero device"))
        made = ::mknod(name.constData(), S_IFCHR | 0644, makedev(1, 5)) == 0;
    else if (kind == QLatin1String("folder"))
        made = QDir(dir.path()).mkdir(QStringLiteral("list"));
    else if (kind == QLatin1String("socket"))
        made = bindSocket(socket, name);
    else if (kind == QLatin1String("link to pipe"))
        made = ::mkfifo(QFile::encodeName(dir.filePath("pipe")).constData(), 0644) == 0 &&
               QFile::link(QStringLiteral("pipe"), path);
    else
        made = QFile::link(writeFile(dir, QStringLiteral("real"), "x\r\n"), path);
#endif
    if (!made)
        QSKIP("this machine cannot make such a file here (not root?)");
    Harness h;
    h.w().inputList().appendItem(QStringLiteral("old"));
    h.dialogs.openAnswers << QStringList{path};

    h.button("PushButton5")->click();

    QStringList loaded;
    for (int i = 2; i <= h.w().inputList().itemCount(); ++i)
        loaded << h.w().inputList().itemText(i);
    QCOMPARE(h.w().inputList().itemText(1), QStringLiteral("old"));
    QCOMPARE(loaded, items);
    const QStringList messages = h.dialogs.messageTexts();
    QCOMPARE(messages.size(), items.isEmpty() ? 1 : 0);
    // Windows' device names are not even files to the load's first look.
    const bool device = QDir::separator() == QLatin1Char('\\') && kind != QLatin1String("folder");
    const QString refusal =
        device ? QStringLiteral("File not found")
               : QStringLiteral(
                     "Bad file mode\r\nin Quorvel2021/08/31.Form1.PushButton5_Click at line 120");
    if (items.isEmpty())
        QVERIFY2(messages[0].startsWith(refusal), qPrintable(messages[0]));
    QCOMPARE(h.w().mousePointer(), int(Form1::PointerDefault));
}

QTEST_MAIN(LoadingTest)

#include "tst_loading.moc"
