#include "TestSupport.h"

#include "app/ErrorReport.h"
#include "list/TextListModel.h"
#include "results/ClipboardLayout.h"

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
const QString CopiedMessage =
    QStringLiteral("Results have been copied to the clipboard.\r\rClick a text area where you "
                   "normally type and press Ctrl+V to paste the clipboard.");

QStringList entries(const QTemporaryDir &dir) {
    return QDir(dir.path()).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot);
}

QStringList items(const TextListModel &list) {
    QStringList texts;
    for (int i = 1; i <= list.itemCount(); ++i)
        texts << list.itemText(i);
    return texts;
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

// Something a save may be aimed at, made in dir. Empty when this machine cannot make it.
QString makeTarget(const QString &kind, const QTemporaryDir &dir, QByteArray &old) {
    const QString path = dir.filePath(QStringLiteral("target"));
    const QByteArray name = QFile::encodeName(path);
    old = "old content\r\n";
    if (kind == QLatin1String("read-only") || kind == QLatin1String("mode 0640")) {
        writeFile(path, old);
        ::chmod(name.constData(), kind == QLatin1String("read-only") ? 0444 : 0640);
        return path;
    }
    if (kind == QLatin1String("link")) {
        writeFile(dir.filePath(QStringLiteral("real")), old);
        return QFile::link(QStringLiteral("real"), path) ? path : QString();
    }
    if (kind == QLatin1String("hard link")) {
        const QString other = writeFile(dir.filePath(QStringLiteral("other")), old);
        return ::link(QFile::encodeName(other).constData(), name.constData()) == 0 ? path
                                                                                   : QString();
    }
    if (kind == QLatin1String("writable file on read-only disk")) {
        // A file of another disk mounted over one of a read-only disk: the file may be
        // written, its folder not.
        const QByteArray real = QFile::encodeName(writeFile(dir.filePath("real"), old));
        const QByteArray mount = QFile::encodeName(dir.filePath(QStringLiteral("small")));
        const QByteArray target = mount + "/target";
        QDir(dir.path()).mkdir(QStringLiteral("small"));
        if (::mount("tmpfs", mount.constData(), "tmpfs", 0, "size=64k") != 0)
            return {};
        writeFile(QFile::decodeName(target), {});
        if (::mount(nullptr, mount.constData(), nullptr, MS_REMOUNT | MS_RDONLY, nullptr) != 0 ||
            ::mount(real.constData(), target.constData(), nullptr, MS_BIND, nullptr) != 0)
            return {};
        return QFile::decodeName(target);
    }
    if (kind == QLatin1String("folder"))
        return QDir(dir.path()).mkdir(QStringLiteral("target")) ? path : QString();
    if (kind.startsWith(QLatin1String("pipe")))
        return ::mkfifo(name.constData(), 0644) == 0 ? path : QString();
    if (kind == QLatin1String("null device") || kind == QLatin1String("full device")) {
        const dev_t device = makedev(1, kind == QLatin1String("null device") ? 3 : 7);
        return ::mknod(name.constData(), S_IFCHR | 0666, device) == 0 ? path : QString();
    }
    if (kind == QLatin1String("full disk") || kind == QLatin1String("read-only disk")) {
        const QString mount = dir.filePath(QStringLiteral("small"));
        QDir(dir.path()).mkdir(QStringLiteral("small"));
        const bool full = kind == QLatin1String("full disk");
        if (::mount("tmpfs", QFile::encodeName(mount).constData(), "tmpfs", full ? 0 : MS_RDONLY,
                    "size=64k") != 0)
            return {};
        return full ? writeFile(mount + QStringLiteral("/target"), old)
                    : mount + QStringLiteral("/target");
    }
    return {};
}

mode_t modeOf(const QString &path, bool follow = true) {
    struct stat st {};
    const QByteArray name = QFile::encodeName(path);
    if ((follow ? ::stat(name.constData(), &st) : ::lstat(name.constData(), &st)) != 0)
        return 0;
    return st.st_mode;
}

class Table : public ColumnTable {
public:
    Table(QList<QStringList> rows, QList<bool> ticks)
        : rows_(std::move(rows)), ticks_(std::move(ticks)) {}
    int columnCount() const override { return rows_.isEmpty() ? 1 : int(rows_[0].size()); }
    qsizetype rowCount() const override { return rows_.size(); }
    QString cell(qsizetype row, int column) const override { return rows_[row][column]; }
    bool isChecked(qsizetype row) const override { return ticks_[row]; }

private:
    QList<QStringList> rows_;
    QList<bool> ticks_;
};
} // namespace

class ResultsTest : public QObject {
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
    void saveTargets_data();
    void saveTargets();
    void clearResults();
    void copyLayout_data();
    void copyLayout();
    void copyCommand_data();
    void copyCommand();
};

void ResultsTest::saveFormats_data() {
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

void ResultsTest::saveFormats() {
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

void ResultsTest::overwrite_data() {
    QTest::addColumn<QString>("button");
    QTest::addColumn<bool>("yes");
    QTest::addColumn<QByteArray>("bytes");
    const QByteArray old("an older and much longer content\r\n");
    QTest::newRow("lines, yes") << QStringLiteral("PushButton6") << true << QByteArray("a\r\n");
    QTest::newRow("lines, no") << QStringLiteral("PushButton6") << false << old;
    QTest::newRow("comma, yes") << QStringLiteral("PushButton12") << true << QByteArray("a,\r\n");
    QTest::newRow("comma, no") << QStringLiteral("PushButton12") << false << old;
}

void ResultsTest::overwrite() {
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

void ResultsTest::saveCancelled() {
    QTemporaryDir dir;
    Harness h;
    addResults(h.w(), {"a"});
    h.w().setMousePointer(Form1::PointerArrow);
    h.button("PushButton6")->click(); // no save answer queued: the user cancels
    QCOMPARE(h.dialogs.shown.size(), 1);
    QCOMPARE(entries(dir), QStringList{});
    QCOMPARE(h.w().mousePointer(), int(Form1::PointerArrow));
}

void ResultsTest::saveIntoMissingFolder_data() {
    QTest::addColumn<QString>("button");
    QTest::addColumn<QString>("location");
    QTest::newRow("lines") << QStringLiteral("PushButton6")
                           << QString::fromLatin1(ErrorLocation::PushButton6Click);
    QTest::newRow("comma") << QStringLiteral("PushButton12")
                           << QString::fromLatin1(ErrorLocation::PushButton12Click);
}

void ResultsTest::saveIntoMissingFolder() {
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

void ResultsTest::failedSaveKeepsOldFile() {
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

void ResultsTest::saveTargets_data() {
    QTest::addColumn<QString>("kind");
    QTest::addColumn<QString>("reason"); // of the one report; empty when the save succeeds
    QTest::newRow("read-only file")
        << QStringLiteral("read-only") << QStringLiteral("Permission denied");
    QTest::newRow("writable file keeps its mode") << QStringLiteral("mode 0640") << QString();
    QTest::newRow("link to a file") << QStringLiteral("link") << QString();
    QTest::newRow("hard link: both names get the new content")
        << QStringLiteral("hard link") << QString();
    QTest::newRow("writable file in a folder that may not be written")
        << QStringLiteral("writable file on read-only disk") << QString();
    QTest::newRow("folder") << QStringLiteral("folder") << QStringLiteral("Is a directory");
    QTest::newRow("named pipe, no reader")
        << QStringLiteral("pipe") << QStringLiteral("No such device or address");
    QTest::newRow("named pipe with a reader") << QStringLiteral("pipe, reader") << QString();
    QTest::newRow("named pipe, slow reader") << QStringLiteral("pipe, slow reader") << QString();
    QTest::newRow("named pipe, reader goes away")
        << QStringLiteral("pipe, reader goes away") << QStringLiteral("Broken pipe");
    QTest::newRow("null device") << QStringLiteral("null device") << QString();
    QTest::newRow("full device") << QStringLiteral("full device")
                                 << QStringLiteral("No space left on device");
    QTest::newRow("full disk") << QStringLiteral("full disk")
                               << QStringLiteral("No space left on device");
    QTest::newRow("folder that may not be written")
        << QStringLiteral("read-only disk") << QStringLiteral("Read-only file system");
}

void ResultsTest::saveTargets() {
    QFETCH(QString, kind);
    QFETCH(QString, reason);
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
    int reader = -1;
    if (kind.startsWith(QLatin1String("pipe, ")) && !kind.endsWith(QLatin1String("goes away")))
        reader = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_NONBLOCK);
    // Empties the pipe only in the window's turns: the save must keep taking them while it
    // waits for room.
    QByteArray drained;
    QTimer drain;
    connect(&drain, &QTimer::timeout, [&] {
        char chunk[4096];
        for (ssize_t got; (got = ::read(reader, chunk, sizeof chunk)) > 0;)
            drained.append(chunk, qsizetype(got));
    });
    if (kind == QLatin1String("pipe, slow reader"))
        drain.start(5);
    // Gone once the save has filled the pipe's buffer and waits for room.
    std::thread leaving;
    if (kind == QLatin1String("pipe, reader goes away"))
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
        if (reader >= 0)
            ::close(reader);
    });
    Harness h;
    // Enough to fill the small disk; a pipe takes what fits in its buffer.
    const QStringList values = kind == QLatin1String("full disk") ||
                                       kind == QLatin1String("pipe, reader goes away") ||
                                       kind == QLatin1String("pipe, slow reader")
                                   ? QStringList(2000, QString(100, QLatin1Char('v')))
                                   : QStringList{"a", "b"};
    addResults(h.w(), values);
    h.dialogs.saveAnswers.enqueue(path);
    h.dialogs.answers.enqueue(Dialogs::Answer::Yes);
    // A save that stops taking turns would wait for the drain forever: after a while this
    // drains the pipe itself, so the save ends and the check of what was drained fails.
    std::atomic<bool> saved = false;
    std::thread rescue;
    if (drain.isActive())
        rescue = std::thread([&] {
            for (int wait = 0; wait < 1000 && !saved; ++wait)
                std::this_thread::sleep_for(std::chrono::milliseconds(10));
            for (char chunk[4096]; !saved;)
                if (::read(reader, chunk, sizeof chunk) <= 0)
                    std::this_thread::sleep_for(std::chrono::milliseconds(5));
        });

    h.button("PushButton6")->click();
    saved = true;
    if (rescue.joinable())
        rescue.join();

    QStringList reports = h.dialogs.messageTexts();
    reports.removeIf([](const QString &t) { return t.startsWith(QLatin1String("Are you sure")); });
    if (reason.isEmpty()) {
        QVERIFY2(reports.isEmpty(), qPrintable(reports.join(QLatin1Char('\n'))));
    } else {
        QCOMPARE(reports.size(), 1);
        QVERIFY2(reports[0].startsWith(reason + QStringLiteral("\r\n")), qPrintable(reports[0]));
    }
    // Nothing is ever replaced by a file of another kind, and a failed save keeps the old
    // content and mode.
    QCOMPARE(modeOf(path, false) & S_IFMT, before & S_IFMT);
    if (S_ISREG(modeOf(path))) {
        QCOMPARE(readFile(path), reason.isEmpty() ? QByteArray("a\r\nb\r\n") : old);
        QCOMPARE(modeOf(path) & 07777, kind == QLatin1String("read-only")   ? mode_t(0444)
                                       : kind == QLatin1String("mode 0640") ? mode_t(0640)
                                                                            : modeOf(path) & 07777);
        QCOMPARE(QDir(QFileInfo(path).path()).entryList(QDir::Files | QDir::Hidden).size(),
                 kind.endsWith(QLatin1String("link")) ? 2 : 1); // no temporary file left behind
        if (kind == QLatin1String("hard link"))
            QCOMPARE(readFile(dir.filePath(QStringLiteral("other"))), QByteArray("a\r\nb\r\n"));
    }
    if (drain.isActive()) {
        drain.stop();
        drain.timeout({});
        QCOMPARE(drained, values.join(QStringLiteral("\r\n")).toLatin1() + "\r\n");
    } else if (reader >= 0) {
        char got[16] = {};
        QCOMPARE(QByteArray(got, int(::read(reader, got, sizeof got))), QByteArray("a\r\nb\r\n"));
    }
    QCOMPARE(h.w().mousePointer(), int(Form1::PointerDefault));
}

void ResultsTest::clearResults() {
    Harness h;
    h.w().inputList().appendItem(QStringLiteral("x"));
    h.w().inputList().appendItem(QStringLiteral("x"));
    addResults(h.w(), {"x", "y"});
    h.button("PushButton9")->click();
    QCOMPARE(h.w().resultsList().itemCount(), 0);
    QCOMPARE(items(h.w().inputList()), QStringList({"x", "x"}));
    QVERIFY(h.dialogs.shown.isEmpty());
}

void ResultsTest::copyLayout_data() {
    QTest::addColumn<QList<QStringList>>("rows");
    QTest::addColumn<QList<bool>>("ticks");
    QTest::addColumn<QString>("text");
    QTest::newRow("one column") << QList<QStringList>{{"a"}, {"bbb"}} << QList<bool>{true, true}
                                << QStringLiteral("a\r\nbbb\r\n");
    QTest::newRow("two columns") << QList<QStringList>{{"x", "1"}, {"long", "2"}}
                                 << QList<bool>{true, true}
                                 << QStringLiteral("x   \t1\r\nlong\t2\r\n");
    QTest::newRow("trailing spaces")
        << QList<QStringList>{{"a ", "b  "}, {"cc", "d"}} << QList<bool>{true, true}
        << QStringLiteral("a \tb\r\ncc\td\r\n");
    QTest::newRow("one column, trailing spaces")
        << QList<QStringList>{{"a  "}, {" "}} << QList<bool>{true, true}
        << QStringLiteral("a\r\n\r\n");
    // Unticked rows still count for the column widths.
    QTest::newRow("unticked rows left out")
        << QList<QStringList>{{"x", "1"}, {"longer", "2"}, {"y", "3"}}
        << QList<bool>{true, false, true} << QStringLiteral("x     \t1\r\ny     \t3\r\n");
    QTest::newRow("none ticked") << QList<QStringList>{{"a"}, {"b"}} << QList<bool>{false, false}
                                 << QString();
    QTest::newRow("no rows") << QList<QStringList>{} << QList<bool>{} << QString();
    QTest::newRow("width in UTF-16 units")
        << QList<QStringList>{{QStringLiteral("\U0001F600"), "1"}, {"abc", "2"}}
        << QList<bool>{true, true} << QStringLiteral("\U0001F600 \t1\r\nabc\t2\r\n");
}

void ResultsTest::copyLayout() {
    QFETCH(QList<QStringList>, rows);
    QFETCH(QList<bool>, ticks);
    QFETCH(QString, text);
    QCOMPARE(layoutCheckedRows(Table(rows, ticks), nullptr), text);
}

void ResultsTest::copyCommand_data() {
    QTest::addColumn<QStringList>("values");
    QTest::addColumn<QList<bool>>("ticks");
    QTest::addColumn<int>("failures");
    QTest::addColumn<QString>("clipboard");
    QTest::newRow("empty results")
        << QStringList{} << QList<bool>{} << 0 << QStringLiteral("(untouched)");
    QTest::newRow("none ticked") << QStringList{"a", "b"} << QList<bool>{false, false} << 0
                                 << QString();
    QTest::newRow("ticked rows") << QStringList{"a", "bb", "c"} << QList<bool>{true, false, true}
                                 << 0 << QStringLiteral("a\r\nc\r\n");
    QTest::newRow("busy clipboard")
        << QStringList{"a"} << QList<bool>{true} << 5 << QStringLiteral("a\r\n");
}

void ResultsTest::copyCommand() {
    QFETCH(QStringList, values);
    QFETCH(QList<bool>, ticks);
    QFETCH(int, failures);
    QFETCH(QString, clipboard);
    Harness h;
    addResults(h.w(), values);
    for (int i = 0; i < ticks.size(); ++i)
        h.w().resultsList().setChecked(i + 1, ticks[i]);
    h.clipboard.failuresLeft = failures;

    h.button("PushButton10")->click();

    QCOMPARE(h.clipboard.text, clipboard);
    QCOMPARE(h.dialogs.shown.size(), 1);
    const auto &box = h.dialogs.shown[0];
    QCOMPARE(box.text, CopiedMessage);
    QCOMPARE(box.title, QStringLiteral("Quorvel"));
    QCOMPARE(box.buttons, Dialogs::Buttons::Ok);
    QCOMPARE(box.icon, Dialogs::Icon::None);
}

QTEST_MAIN(ResultsTest)
#include "tst_results.moc"
