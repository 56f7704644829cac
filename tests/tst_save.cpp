// Saving the results: both formats, the overwrite question, and every kind of target.
#include "SaveTargets.h"
#include "TestSupport.h"

#include "engine/core/ErrorReport.h"
#include "engine/results/ClipboardLayout.h"
#include "engine/store/TextListModel.h"

#include <QDir>
#include <QFile>
#include <QScopeGuard>
#include <QTest>
#include <QTimer>

#include <atomic>
#include <fcntl.h>
#include <sys/ioctl.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <thread>
#include <unistd.h>

namespace {
const QString SaveFilter = QStringLiteral("Text Files (*.txt)|*.txt|All Files (*.*)|*.*|");

QStringList entries(const QTemporaryDir &dir) {
    return QDir(dir.path()).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot);
}

void addResults(Form1 &w, const QStringList &values) {
    for (const QString &value : values)
        w.resultsList().appendItem(value);
}

// A result file that fails every write, like a full disk.
class FailingWrites : public FileSystem {
    class Device : public QIODevice {
    protected:
        qint64 readData(char *, qint64) override { return -1; }
        qint64 writeData(const char *, qint64) override {
            setErrorString(QStringLiteral("Disk full"));
            return -1;
        }
    };
    class Output : public OutputFile {
    public:
        Output() { device_.open(QIODevice::WriteOnly); }
        QIODevice &device() override { return device_; }
        void commit() override { throw Failure(QStringLiteral("committed after a failure")); }

    private:
        Device device_;
    };

public:
    std::unique_ptr<OutputFile> openForWriting(const QString &) override {
        return std::make_unique<Output>();
    }
};

// Saves values through Save Results As Text File to path, answering Yes to the overwrite
// question; one report, starting with reason, or none when reason is empty.
void saveTo(const QString &path, const QStringList &values, const QString &reason) {
    Harness h;
    addResults(h.w(), values);
    h.dialogs.saveAnswers.enqueue(path);
    h.dialogs.answers.enqueue(Dialogs::Answer::Yes);

    h.button("PushButton6")->click();

    QStringList reports = h.dialogs.messageTexts();
    reports.removeIf([](const QString &t) { return t.startsWith(QLatin1String("Are you sure")); });
    if (reason.isEmpty()) {
        QVERIFY2(reports.isEmpty(), qPrintable(reports.join(QLatin1Char('\n'))));
    } else {
        QCOMPARE(reports.size(), 1);
        QVERIFY2(reports[0].startsWith(reason + QStringLiteral("\r\n")), qPrintable(reports[0]));
    }
    QCOMPARE(h.w().mousePointer(), int(Form1::PointerDefault));
}

// Enough to fill the small disk or a pipe's buffer.
const QStringList ManyValues(2000, QString(100, QLatin1Char('v')));
} // namespace

class SaveTest : public QObject {
    Q_OBJECT
private slots:
    void saveFormats_data();
    void saveFormats();
    void overwrite_data();
    void overwrite();
    void saveCancelled();
    void saveIntoMissingFolder_data();
    void saveIntoMissingFolder();
    void failedSaveKeepsOldFile();
    void fileTargets_data();
    void fileTargets();
    void pipeTargets_data();
    void pipeTargets();
};

void SaveTest::saveFormats_data() {
    QTest::addColumn<QString>("button");
    QTest::addColumn<QStringList>("values");
    QTest::addColumn<QByteArray>("bytes");
    const QString lines = QStringLiteral("PushButton6"), comma = QStringLiteral("PushButton12");
    const QStringList ab{"a", "b"};
    const QStringList wide{QStringLiteral("caf\u00E9"), QStringLiteral("\u20AC\U0001F600")};
    QTest::newRow("lines") << lines << ab << QByteArray("a\r\nb\r\n");
    QTest::newRow("comma") << comma << ab << QByteArray("a,b,\r\n");
    QTest::newRow("lines, empty") << lines << QStringList{} << QByteArray("");
    QTest::newRow("comma, empty") << comma << QStringList{} << QByteArray("\r\n");
    QTest::newRow("lines, non-ASCII")
        << lines << wide << QByteArray("caf\xC3\xA9\r\n\xE2\x82\xAC\xF0\x9F\x98\x80\r\n");
    QTest::newRow("comma, non-ASCII")
        << comma << wide << QByteArray("caf\xC3\xA9,\xE2\x82\xAC\xF0\x9F\x98\x80,\r\n");
    // Halves of broken surrogate pairs stay in their own rows.
    const QStringList broken{QString(QChar(0xD83D)), QChar(0xDE00) + QStringLiteral("x"),
                             QStringLiteral("end") + QChar(0xD83D)};
    QTest::newRow("lines, broken pairs")
        << lines << broken << QByteArray("\xEF\xBF\xBD\r\n\xEF\xBF\xBDx\r\nend\xEF\xBF\xBD\r\n");
}

void SaveTest::saveFormats() {
    QFETCH(QString, button);
    QFETCH(QStringList, values);
    QFETCH(QByteArray, bytes);
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("out.txt"));
    Harness h;
    addResults(h.w(), values);
    h.dialogs.saveAnswers.enqueue(path);

    h.button(qPrintable(button))->click();

    QCOMPARE(readFile(path), bytes);
    QCOMPARE(h.dialogs.shown.size(), 1);
    QCOMPARE(h.dialogs.shown[0].kind, QStringLiteral("save"));
    QCOMPARE(h.dialogs.shown[0].title, QStringLiteral("Save"));
    QCOMPARE(h.dialogs.shown[0].filter, SaveFilter);
    QCOMPARE(entries(dir), QStringList{"out.txt"}); // no temporary file left behind
    QCOMPARE(h.w().mousePointer(), int(Form1::PointerDefault));
}

void SaveTest::overwrite_data() {
    QTest::addColumn<QString>("button");
    QTest::addColumn<bool>("yes");
    QTest::addColumn<QByteArray>("bytes");
    const QByteArray old("an older and much longer content\r\n");
    QTest::newRow("lines, yes") << QStringLiteral("PushButton6") << true << QByteArray("a\r\n");
    QTest::newRow("lines, no") << QStringLiteral("PushButton6") << false << old;
    QTest::newRow("comma, yes") << QStringLiteral("PushButton12") << true << QByteArray("a,\r\n");
    QTest::newRow("comma, no") << QStringLiteral("PushButton12") << false << old;
}

void SaveTest::overwrite() {
    QFETCH(QString, button);
    QFETCH(bool, yes);
    QFETCH(QByteArray, bytes);
    QTemporaryDir dir;
    const QString path =
        writeFile(dir.filePath(QStringLiteral("out.txt")), "an older and much longer content\r\n");
    Harness h;
    addResults(h.w(), {"a"});
    h.dialogs.saveAnswers.enqueue(path);
    h.dialogs.answers.enqueue(yes ? Dialogs::Answer::Yes : Dialogs::Answer::No);

    h.button(qPrintable(button))->click();

    QCOMPARE(readFile(path), bytes);
    QCOMPARE(h.dialogs.shown.size(), 2);
    const auto &question = h.dialogs.shown[1];
    QCOMPARE(question.text,
             QStringLiteral("Are you sure you wish to overwrite ") + path + QStringLiteral(" ?"));
    QCOMPARE(question.title, QStringLiteral("Quorvel"));
    QCOMPARE(question.buttons, Dialogs::Buttons::YesNo);
    QCOMPARE(question.icon, Dialogs::Icon::None);
    QCOMPARE(entries(dir), QStringList{"out.txt"});
}

void SaveTest::saveCancelled() {
    QTemporaryDir dir;
    Harness h;
    addResults(h.w(), {"a"});
    h.w().setMousePointer(Form1::PointerArrow);
    h.button("PushButton6")->click(); // no save answer queued: the user cancels
    QCOMPARE(h.dialogs.shown.size(), 1);
    QCOMPARE(entries(dir), QStringList{});
    QCOMPARE(h.w().mousePointer(), int(Form1::PointerArrow));
}

void SaveTest::saveIntoMissingFolder_data() {
    QTest::addColumn<QString>("button");
    QTest::addColumn<QString>("location");
    QTest::newRow("lines") << QStringLiteral("PushButton6")
                           << QString::fromLatin1(ErrorLocation::PushButton6Click);
    QTest::newRow("comma") << QStringLiteral("PushButton12")
                           << QString::fromLatin1(ErrorLocation::PushButton12Click);
}

void SaveTest::saveIntoMissingFolder() {
    QFETCH(QString, button);
    QFETCH(QString, location);
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("missing/out.txt"));
    Harness h;
    addResults(h.w(), {"a"});
    h.dialogs.saveAnswers.enqueue(path);

    h.button(qPrintable(button))->click();

    QCOMPARE(h.dialogs.shown.size(), 2);
    const auto &report = h.dialogs.shown[1];
    QCOMPARE(report.title, QStringLiteral("Application Error"));
    QCOMPARE(report.icon, Dialogs::Icon::Warning);
    QVERIFY2(report.text.contains(QStringLiteral("\r\n") + location + QStringLiteral("at line ")),
             qPrintable(report.text));
    QCOMPARE(entries(dir), QStringList{});
    QCOMPARE(h.w().mousePointer(), int(Form1::PointerDefault));
}

void SaveTest::failedSaveKeepsOldFile() {
    QTemporaryDir dir;
    const QByteArray old("old\r\n");
    const QString path = writeFile(dir.filePath(QStringLiteral("out.txt")), old);
    FailingWrites files;
    Harness h(&files);
    addResults(h.w(), {"new", "values"});
    h.dialogs.saveAnswers.enqueue(path);
    h.dialogs.answers.enqueue(Dialogs::Answer::Yes);

    h.button("PushButton6")->click();

    QCOMPARE(h.dialogs.shown.size(), 3); // save, overwrite question, report
    const auto &report = h.dialogs.shown[2];
    QCOMPARE(report.title, QStringLiteral("Application Error"));
    QVERIFY2(report.text.startsWith(QStringLiteral("Disk full\r\n") +
                                    QString::fromLatin1(ErrorLocation::PushButton6Click)),
             qPrintable(report.text));
    QCOMPARE(readFile(path), old);
    QCOMPARE(entries(dir), QStringList{"out.txt"});
    QCOMPARE(h.w().mousePointer(), int(Form1::PointerDefault));
}

void SaveTest::fileTargets_data() {
    QTest::addColumn<QString>("kind");
    QTest::addColumn<QString>("reason"); // of the one report; empty when the save succeeds
    QTest::addColumn<int>("mode");       // the file's mode afterwards, 0 for whatever it was
    QTest::addColumn<int>("files");      // in the folder afterwards; both for regular files
    QTest::newRow("read-only file")
        << QStringLiteral("read-only") << QStringLiteral("Permission denied") << 0444 << 1;
    QTest::newRow("writable file keeps its mode")
        << QStringLiteral("mode 0640") << QString() << 0640 << 1;
    QTest::newRow("writable file keeps its set-group-ID bit")
        << QStringLiteral("mode 02664") << QString() << 02664 << 1;
    QTest::newRow("link to a file") << QStringLiteral("link") << QString() << 0 << 2;
    QTest::newRow("hard link: both names get the new content")
        << QStringLiteral("hard link") << QString() << 0 << 2;
    QTest::newRow("writable file in a folder that may not be written")
        << QStringLiteral("writable file on read-only disk") << QString() << 0 << 1;
    QTest::newRow("link to a writable file in a folder that may not be written")
        << QStringLiteral("link to a writable file on read-only disk") << QString() << 0 << 2;
    QTest::newRow("folder") << QStringLiteral("folder") << QStringLiteral("Is a directory") << 0
                            << 1;
    QTest::newRow("full disk") << QStringLiteral("full disk")
                               << QStringLiteral("No space left on device") << 0 << 1;
    QTest::newRow("folder that may not be written")
        << QStringLiteral("read-only disk") << QStringLiteral("Read-only file system") << 0 << 1;
    QTest::newRow("null device") << QStringLiteral("null device") << QString() << 0 << 0;
    QTest::newRow("full device") << QStringLiteral("full device")
                                 << QStringLiteral("No space left on device") << 0 << 0;
}

void SaveTest::fileTargets() {
    QFETCH(QString, kind);
    QFETCH(QString, reason);
    QFETCH(int, mode);
    QFETCH(int, files);
    QTemporaryDir dir;
    QByteArray old;
    const QString path = makeTarget(kind, dir, old);
    if (path.isEmpty())
        QSKIP("this machine cannot make such a target here (not root?)");
    const QString mounted =
        kind.endsWith(QLatin1String("disk")) ? dir.filePath("small") : QString();
    const auto unmount = qScopeGuard([&] {
        if (!mounted.isEmpty()) {
            ::umount(QFile::encodeName(mounted + QStringLiteral("/target")).constData());
            ::umount(QFile::encodeName(mounted).constData());
        }
    });
    const mode_t before = modeOf(path, false);
    const mode_t permissions = modeOf(path) & 07777;
    saveTo(path, kind == QLatin1String("full disk") ? ManyValues : QStringList{"a", "b"}, reason);
    // Nothing is ever replaced by a file of another kind, and a failed save keeps the old
    // content and mode.
    QCOMPARE(modeOf(path, false) & S_IFMT, before & S_IFMT);
    if (S_ISREG(modeOf(path))) {
        QCOMPARE(readFile(path), reason.isEmpty() ? QByteArray("a\r\nb\r\n") : old);
        QCOMPARE(modeOf(path) & 07777, mode ? mode_t(mode) : permissions);
        QCOMPARE(QDir(QFileInfo(path).path()).entryList(QDir::Files | QDir::Hidden).size(),
                 files); // no temporary file left behind
        if (kind == QLatin1String("hard link"))
            QCOMPARE(readFile(dir.filePath(QStringLiteral("other"))), QByteArray("a\r\nb\r\n"));
    }
}

void SaveTest::pipeTargets_data() {
    QTest::addColumn<QString>("reader"); // "none", "fast", "slow", "goes away"
    QTest::addColumn<QString>("reason");
    QTest::newRow("named pipe, no reader")
        << QStringLiteral("none") << QStringLiteral("No such device or address");
    QTest::newRow("named pipe with a reader") << QStringLiteral("fast") << QString();
    QTest::newRow("named pipe, slow reader") << QStringLiteral("slow") << QString();
    QTest::newRow("named pipe, reader goes away")
        << QStringLiteral("goes away") << QStringLiteral("Broken pipe");
}

void SaveTest::pipeTargets() {
    QFETCH(QString, reader);
    QFETCH(QString, reason);
    QTemporaryDir dir;
    QByteArray old;
    const QString path = makeTarget(QStringLiteral("pipe"), dir, old);
    if (path.isEmpty())
        QSKIP("this machine cannot make such a target here (not root?)");
    const mode_t before = modeOf(path, false);
    const bool slow = reader == QLatin1String("slow");
    const bool leaves = reader == QLatin1String("goes away");
    int fd = -1;
    if (reader != QLatin1String("none") && !leaves)
        fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_NONBLOCK);
    // Empties the pipe only in the window's turns: the save must keep taking them while it
    // waits for room.
    QByteArray drained;
    QTimer drain;
    connect(&drain, &QTimer::timeout, [&] {
        char chunk[4096];
        for (ssize_t got; (got = ::read(fd, chunk, sizeof chunk)) > 0;)
            drained.append(chunk, qsizetype(got));
    });
    if (slow)
        drain.start(5);
    // Gone once the save has filled the pipe's buffer and waits for room.
    std::thread leaving;
    if (leaves)
        leaving = std::thread(
            [](int fd) {
                int queued = 0;
                for (int wait = 0; wait < 2000; ++wait) {
                    if (::ioctl(fd, FIONREAD, &queued) != 0 || queued >= 32 * 1024)
                        break;
                    std::this_thread::sleep_for(std::chrono::milliseconds(5));
                }
                ::close(fd);
            },
            ::open(QFile::encodeName(path).constData(), O_RDONLY | O_NONBLOCK));
    const auto joinLeaving = qScopeGuard([&] {
        if (leaving.joinable())
            leaving.join();
    });
    const auto closeReader = qScopeGuard([&] {
        if (fd >= 0)
            ::close(fd);
    });
    const QStringList values = slow || leaves ? ManyValues : QStringList{"a", "b"};
    // A save that stops taking turns would wait for the drain forever: after a while this
    // drains the pipe itself, so the save ends and the check of what was drained fails.
    std::atomic<bool> saved = false;
    std::thread rescue;
    if (slow)
        rescue = std::thread([&] {
            for (int wait = 0; wait < 1000 && !saved; ++wait)
                std::this_thread::sleep_for(std::chrono::milliseconds(10));
            for (char chunk[4096]; !saved;)
                if (::read(fd, chunk, sizeof chunk) <= 0)
                    std::this_thread::sleep_for(std::chrono::milliseconds(5));
        });
    saveTo(path, values, reason);
    saved = true;
    if (rescue.joinable())
        rescue.join();
    QCOMPARE(modeOf(path, false) & S_IFMT, before & S_IFMT);
    if (drain.isActive()) {
        drain.stop();
        drain.timeout({});
        QCOMPARE(drained, values.join(QStringLiteral("\r\n")).toLatin1() + "\r\n");
    } else if (fd >= 0) {
        char got[16] = {};
        QCOMPARE(QByteArray(got, int(::read(fd, got, sizeof got))), QByteArray("a\r\nb\r\n"));
    }
}

QTEST_MAIN(SaveTest)

#include "tst_save.moc"
