#include "TestSupport.h"

#include "core/ErrorReport.h"
#include "core/TimeSlice.h"
#include "list/ListFileReader.h"
#include "list/NormalizePath.h"
#include "list/TextListModel.h"

#include <QBuffer>
#include <QDir>
#include <QFile>
#include <QScopeGuard>
#include <QStringEncoder>
#include <QTest>
#include <QThread>
#include <QTimer>

#include <cstring>

#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/un.h>
#include <unistd.h>

namespace {
constexpr qsizetype Chunk = 1 << 20; // the reader's block size

QByteArray xs(qsizetype n) {
    return QByteArray(n, 'x');
}

QByteArray withBom(QStringConverter::Encoding encoding, const QString &text) {
    QStringEncoder encoder(encoding, QStringConverter::Flag::WriteBom);
    return encoder(text);
}

// A disk that cannot read at or past failAt.
class FailingBuffer : public QBuffer {
public:
    FailingBuffer(const QByteArray &bytes, qint64 failAt) : failAt_(failAt) {
        setData(bytes);
        open(QIODevice::ReadOnly);
    }

protected:
    qint64 readData(char *data, qint64 maxSize) override {
        if (pos() >= failAt_) {
            setErrorString(QStringLiteral("Bad sector"));
            return -1;
        }
        return QBuffer::readData(data, std::min(maxSize, failAt_ - pos()));
    }

private:
    qint64 failAt_;
};

// A pipe: read once, from start to end, a few bytes at a time; cannot read at or past failAt.
class Pipe : public QIODevice {
public:
    explicit Pipe(QByteArray bytes, qint64 failAt = -1)
        : bytes_(std::move(bytes)), failAt_(failAt < 0 ? bytes_.size() + 1 : failAt) {
        open(QIODevice::ReadOnly);
    }
    bool isSequential() const override { return true; }

protected:
    qint64 readData(char *data, qint64 maxSize) override {
        if (at_ >= failAt_) {
            setErrorString(QStringLiteral("Bad sector"));
            return -1;
        }
        const qint64 n =
            std::min({maxSize, qint64(bytes_.size()) - at_, failAt_ - at_, qint64(4093)});
        if (data) // skip() may read into nothing
            std::memcpy(data, bytes_.constData() + at_, size_t(n));
        at_ += n;
        return n;
    }
    qint64 writeData(const char *, qint64) override { return -1; }

private:
    QByteArray bytes_;
    qint64 failAt_;
    qint64 at_ = 0;
};

// The items read, and whether each one is stored in its canonical form (equal texts must
// have equal bytes for the search to find them).
QStringList readItems(QIODevice &device, bool *canonical) {
    QStringList items;
    *canonical = true;
    readListLines(device, nullptr, [&](const TextStore &lines) {
        for (qsizetype i = 0; i < lines.size(); ++i) {
            items << lines.text(i);
            *canonical = *canonical && lines.bytes(i) == TextStore::encode(items.constLast());
        }
    });
    return items;
}

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

bool bindSocket(int socket, const QByteArray &path) {
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    if (socket < 0 || size_t(path.size()) >= sizeof address.sun_path)
        return false;
    std::memcpy(address.sun_path, path.constData(), size_t(path.size()));
    return ::bind(socket, reinterpret_cast<sockaddr *>(&address), sizeof address) == 0;
}
} // namespace

class LoadingTest : public QObject {
    Q_OBJECT
private slots:
    void lineEndsAndEncodings_data();
    void lineEndsAndEncodings();
    void readFailureKeepsCompleteLines_data();
    void readFailureKeepsCompleteLines();
    void normalizePath_data();
    void normalizePath();
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

void LoadingTest::lineEndsAndEncodings_data() {
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QStringList>("items");
    const QString smiley = QStringLiteral("\U0001F600");

    QTest::newRow("CR LF, empty line") << QByteArray("a\r\n\r\nb") << QStringList{"a", "", "b"};
    QTest::newRow("LF only") << QByteArray("a\nb\n") << QStringList{"a", "b"};
    QTest::newRow("CR only") << QByteArray("a\rb\r\rc") << QStringList{"a", "b", "", "c"};
    QTest::newRow("mixed") << QByteArray("a\rb\nc\r\nd\n\re")
                           << QStringList{"a", "b", "c", "d", "", "e"};
    QTest::newRow("trailing CR LF") << QByteArray("a\r\n") << QStringList{"a"};
    QTest::newRow("two trailing CR LF") << QByteArray("a\r\n\r\n") << QStringList{"a", ""};
    QTest::newRow("only a line end") << QByteArray("\r\n") << QStringList{""};
    QTest::newRow("zero bytes") << QByteArray() << QStringList{};

    QTest::newRow("UTF-8") << QByteArray("caf\xC3\xA9\r\n\xE2\x82\xAC")
                           << QStringList{QStringLiteral("caf\u00E9"), QStringLiteral("\u20AC")};
    QTest::newRow("UTF-8 with BOM")
        << QByteArray("\xEF\xBB\xBF\xC3\xA9\r\nb") << QStringList{QStringLiteral("\u00E9"), "b"};
    QTest::newRow("mark at the start of a later line")
        << QByteArray("a\r\n\xEF\xBB\xBF\xEF\xBB\xBF"
                      "b")
        << QStringList{"a", QStringLiteral("\uFEFF\uFEFFb")};
    QTest::newRow("UTF-8 BOM only") << QByteArray("\xEF\xBB\xBF") << QStringList{};
    const QString wide = QStringLiteral("a") + smiley + QStringLiteral("\r\n\u00E9\r\n");
    const QStringList wideItems{QStringLiteral("a") + smiley, QStringLiteral("\u00E9")};
    QTest::newRow("UTF-16 LE") << withBom(QStringConverter::Utf16LE, wide) << wideItems;
    QTest::newRow("UTF-16 BE") << withBom(QStringConverter::Utf16BE, wide) << wideItems;
    QTest::newRow("UTF-16 LE, five bytes") << QByteArray("\xFF\xFE"
                                                         "abc")
                                           << QStringList{QStringLiteral("\u6261\uFFFD")};
    QTest::newRow("UTF-16 LE, odd byte at end") << QByteArray("\xFF\xFE"
                                                              "a\0b",
                                                              5)
                                                << QStringList{QStringLiteral("a\uFFFD")};

    QTest::newRow("Windows-1252") << QByteArray("\x80\xE9\r\n\x81\x8D\x8F\x90\x9D\r\n\x9F\xA0")
                                  << QStringList{
                                         QStringLiteral("\u20AC\u00E9"),
                                         QString::fromUtf16(u"\u0081\u008D\u008F\u0090\u009D"),
                                         QStringLiteral("\u0178\u00A0")};
    QTest::newRow("invalid UTF-8 decodes whole file as Windows-1252")
        << QByteArray("caf\xC3\xA9\r\n\xE9t\xE9")
        << QStringList{QStringLiteral("caf\u00C3\u00A9"), QStringLiteral("\u00E9t\u00E9")};
    QTest::newRow("invalid UTF-8 after the first chunk")
        << QByteArray("\xC3\xA9\r\n") + xs(Chunk + 100) + "\r\n\xFF"
        << QStringList{QStringLiteral("\u00C3\u00A9"), QString(xs(Chunk + 100)),
                       QStringLiteral("\u00FF")};
    QTest::newRow("UTF-8 mark, stray bytes")
        << QByteArray("\xEF\xBB\xBF"
                      "caf\xC3\xA9\r\n\xFF\x80")
        << QStringList{QStringLiteral("caf\u00E9"), QStringLiteral("\u00FF\u20AC")};
    QTest::newRow("UTF-8 mark, lead byte before ASCII") << QByteArray("\xEF\xBB\xBF"
                                                                      "\xC3"
                                                                      "A")
                                                        << QStringList{QStringLiteral("\u00C3A")};
    QTest::newRow("UTF-8 mark, cut-off sequence at end")
        << QByteArray("\xEF\xBB\xBF"
                      "a\xE2\x82")
        << QStringList{QStringLiteral("a\u00E2\u201A")};
    QTest::newRow("UTF-8 mark, stray byte, char across chunks")
        << QByteArray("\xEF\xBB\xBF\xFF") + xs(Chunk - 2) + "\xE2\x82\xAC"
        << QStringList{QStringLiteral("\u00FF") + QString(xs(Chunk - 2)) +
                       QStringLiteral("\u20AC")};
    QTest::newRow("UTF-8 sequence cut off at end")
        << QByteArray("ab\xC3") << QStringList{QStringLiteral("ab\u00C3")};
    QTest::newRow("NUL inside a line")
        << QByteArray("a\0b\r\nc", 6) << QStringList{QString::fromLatin1("a\0b", 3), "c"};

    // The reader works in chunks of 256 KiB; nothing may depend on where they end.
    const QString longLine = QString(xs(Chunk - 1));
    QTest::newRow("CR LF across chunks") << xs(Chunk - 1) + "\r\ny" << QStringList{longLine, "y"};
    QTest::newRow("CR, then CR in next chunk")
        << xs(Chunk - 1) + "\r\ry" << QStringList{longLine, "", "y"};
    QTest::newRow("CR, then text in next chunk")
        << xs(Chunk - 1) + "\ry" << QStringList{longLine, "y"};
    QTest::newRow("Windows-1252, CR LF across chunks")
        << "\xE9" + xs(Chunk - 2) + "\r\ny"
        << QStringList{QStringLiteral("\u00E9") + QString(xs(Chunk - 2)), "y"};
    QTest::newRow("UTF-8 char across chunks")
        << xs(Chunk - 1) + "\xE2\x82\xAC\r\nz"
        << QStringList{longLine + QStringLiteral("\u20AC"), "z"};
    QTest::newRow("UTF-8 four-byte char across chunks")
        << xs(Chunk - 2) + "\xF0\x9F\x98\x80" << QStringList{QString(xs(Chunk - 2)) + smiley};
    // With the BOM skipped, the first chunk ends after UTF-16 unit Chunk / 2 - 1.
    const QString wideLine(Chunk / 2 - 1, QLatin1Char('x'));
    QTest::newRow("UTF-16 CR LF across chunks")
        << withBom(QStringConverter::Utf16LE, wideLine + QStringLiteral("\r\ny"))
        << QStringList{wideLine, "y"};
    QTest::newRow("UTF-16 surrogate pair across chunks")
        << withBom(QStringConverter::Utf16LE, wideLine + smiley + QStringLiteral("\r\nz"))
        << QStringList{wideLine + smiley, "z"};
}

// From a file, surveyed then read, and from a pipe, read once.
void LoadingTest::lineEndsAndEncodings() {
    QFETCH(QByteArray, bytes);
    QFETCH(QStringList, items);
    QBuffer buffer(&bytes);
    QVERIFY(buffer.open(QIODevice::ReadOnly));
    Pipe pipe(bytes);
    for (QIODevice *device : {static_cast<QIODevice *>(&buffer), static_cast<QIODevice *>(&pipe)}) {
        bool canonical = false;
        const QStringList read = readItems(*device, &canonical);
        QCOMPARE(read.size(), items.size());
        for (qsizetype i = 0; i < items.size(); ++i)
            QCOMPARE(read[i], items[i]); // one by one: long lines make whole-list output unreadable
        QVERIFY(canonical);
    }
}

void LoadingTest::readFailureKeepsCompleteLines_data() {
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<qint64>("failAt");
    QTest::addColumn<QStringList>("items");
    QTest::newRow("UTF-8") << QByteArray("one\r\ntwo\r\nthree\r\n") << qint64(13)
                           << QStringList{"one", "two"};
    QTest::newRow("UTF-16") << withBom(QStringConverter::Utf16LE,
                                       QStringLiteral("one\r\ntwo\r\nthree\r\n"))
                            << qint64(2 + 2 * 13) << QStringList{"one", "two"};
    QTest::newRow("Windows-1252") << QByteArray("\xE9\r\ntwo\r\nthree\r\n") << qint64(11)
                                  << QStringList{QStringLiteral("\u00E9"), "two"};
    QByteArray many;
    for (int i = 0; i < 100000; ++i)
        many += "x\r\n";
    QTest::newRow("after the first chunk")
        << many << qint64(3 * 96000 + 1) << QStringList(96000, QStringLiteral("x"));
}

void LoadingTest::readFailureKeepsCompleteLines() {
    QFETCH(QByteArray, bytes);
    QFETCH(qint64, failAt);
    QFETCH(QStringList, items);
    FailingBuffer file(bytes, failAt);
    Pipe pipe(bytes, failAt);
    for (QIODevice *device : {static_cast<QIODevice *>(&file), static_cast<QIODevice *>(&pipe)}) {
        QStringList read;
        QVERIFY_THROWS_EXCEPTION(Failure,
                                 readListLines(*device, nullptr, [&](const TextStore &lines) {
                                     for (qsizetype i = 0; i < lines.size(); ++i)
                                         read << lines.text(i);
                                 }));
        QCOMPARE(read, items);
    }
}

void LoadingTest::normalizePath_data() {
    QTest::addColumn<QString>("path");
    QTest::addColumn<QChar>("separator");
    QTest::addColumn<QString>("normalized");
    const QChar back('\\'), slash('/');
    auto row = [](const char *name, const char *path, QChar separator, const char *normalized) {
        QTest::newRow(name) << QString::fromLatin1(path) << separator
                            << QString::fromLatin1(normalized);
    };
    row("drive root, doubled", "C:\\\\x.txt", back, "C:\\x.txt");
    row("already tidy", "C:\\a\\b.txt", back, "C:\\a\\b.txt");
    row("three inside", "C:\\a\\\\\\b.txt", back, "C:\\a\\\\b.txt");
    row("four inside", "C:\\a\\\\\\\\b.txt", back, "C:\\a\\\\b.txt");
    row("network path", "\\\\server\\share\\f.txt", back, "\\\\server\\share\\f.txt");
    row("three leading", "\\\\\\server\\share\\\\f.txt", back, "\\\\server\\share\\f.txt");
    row("one leading", "\\x.txt", back, "\\\\x.txt");
    row("trailing pair", "C:\\dir\\\\", back, "C:\\dir\\");
    row("no separator", "x.txt", back, "x.txt");
    row("empty", "", back, "");
    row("slash, doubled", "/home//u/x.txt", slash, "/home/u/x.txt");
    row("slash, three leading", "///srv//f.txt", slash, "/srv/f.txt");
    row("slash, root joined", "//bin", slash, "/bin");
    row("slash, relative", "a//b///c", slash, "a/b//c");
    row("slash leaves backslashes", "a\\\\b", slash, "a\\\\b");
}

void LoadingTest::normalizePath() {
    QFETCH(QString, path);
    QFETCH(QChar, separator);
    QFETCH(QString, normalized);
    QCOMPARE(NormalizePath(path, separator), normalized);
}

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
    for (int i = 0; i < 1000; ++i)
        lines += QByteArray::number(i) + "\r\n";
    const QString first = writeFile(dir, QStringLiteral("first.txt"), lines);
    const QString second = writeFile(dir, QStringLiteral("second.txt"), "x\r\n");
    SlowFiles files;
    Harness h(&files);
    h.dialogs.openAnswers << QStringList{first} << QStringList{second};
    int pointerAfterInner = -1;
    QTimer::singleShot(0, &h.w(), [&] {
        h.button("PushButton5")->click(); // refused: the first file is still being read
        h.button("PushButton4")->click(); // a search runs and ends meanwhile
        pointerAfterInner = h.w().mousePointer();
        h.button("PushButton7")->click(); // Clear List: still refused
    });
    h.button("PushButton5")->click();

    QCOMPARE(pointerAfterInner, int(Form1::PointerHourglass));
    QCOMPARE(h.w().mousePointer(), int(Form1::PointerDefault));
    QCOMPARE(h.w().inputList().itemCount(), 1000);
    QCOMPARE(h.w().inputList().itemText(1000), QStringLiteral("999"));
    const QStringList messages = h.dialogs.messageTexts();
    QCOMPARE(messages.size(), 2);
    QVERIFY2(messages[0].startsWith(QStringLiteral(
                 "File already open\r\nin Quorvel2021/08/31.Form1.PushButton5_Click at line 120")),
             qPrintable(messages[0]));
    QCOMPARE(messages[1], QStringLiteral("No files added."));
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
    QTest::newRow("named pipe without a writer") << QStringLiteral("pipe") << QStringList{};
    QTest::newRow("endless device") << QStringLiteral("zero device") << QStringList{};
    QTest::newRow("folder") << QStringLiteral("folder") << QStringList{};
    QTest::newRow("socket") << QStringLiteral("socket") << QStringList{};
    QTest::newRow("link to a pipe") << QStringLiteral("link to pipe") << QStringList{};
    QTest::newRow("link to a file") << QStringLiteral("link to file") << QStringList{"x"};
}

void LoadingTest::specialFiles() {
    QFETCH(QString, kind);
    QFETCH(QStringList, items);
    QTemporaryDir dir;
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
    if (items.isEmpty())
        QVERIFY2(messages[0].startsWith(QStringLiteral(
                     "Bad file mode\r\nin Quorvel2021/08/31.Form1.PushButton5_Click at line 120")),
                 qPrintable(messages[0]));
    QCOMPARE(h.w().mousePointer(), int(Form1::PointerDefault));
}

int runLoadingTests(int argc, char **argv) {
    LoadingTest t;
    return QTest::qExec(&t, argc, argv);
}

#include "tst_loading.moc"
