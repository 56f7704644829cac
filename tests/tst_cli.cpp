#include "TestSupport.h"

#include "engine/store/TextListModel.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QStringEncoder>
#include <QTest>

#include <unistd.h>

namespace {
const QString Missing = QStringLiteral("<missing>");
const QString StandardInput = QStringLiteral("<stdin>");

QByteArray utf16(const QString &text) {
    QStringEncoder encoder(QStringConverter::Utf16LE, QStringConverter::Flag::WriteBom);
    return encoder(text);
}

// List files in every encoding and with every line end the reader knows, sharing values.
const QList<QByteArray> Mixed = {
    QByteArray("a\r\nb\nc\rd\r\n\r\n  \r\n  \r\ncaf\xC3\xA9\r\nlast"),
    // ending in a lone surrogate twice, written as the window writes it
    utf16(QStringLiteral("b\r\na\nx\r\u00E9\r\nlast\r\n\U0001F600\r\n") + QChar(0xD800) +
          QStringLiteral("\r\n") + QChar(0xD800)),
    QByteArray("caf\xE9\r\n\x80\r\nd\r\n"), // Windows-1252
    QByteArray(
        "\xEF\xBB\xBF\xE2\x82\xAC\r\nx\r\n\xE2\x82\xAC\r\n\xF0\x9F\x98\x80\xFF"), // marked, a stray
                                                                                  // byte
    QByteArray(),
};

struct Run {
    int status = -1;
    QByteArray out, err;
};

// wrapper: a command that runs quorvel-find, given as its last arguments, after setting up.
// endInput false leaves standard input open after input, as a writer that never ends.
Run runFind(const QStringList &args, const QByteArray &input = {}, const QString &outFile = {},
            const QStringList &wrapper = {}, bool endInput = true) {
    QProcess process;
    if (!outFile.isEmpty())
        process.setStandardOutputFile(outFile);
    if (wrapper.isEmpty())
        process.start(QStringLiteral(QUORVEL_FIND), args);
    else
        process.start(wrapper[0],
                      wrapper.mid(1) + QStringList{QStringLiteral(QUORVEL_FIND)} + args);
    process.write(input);
    if (endInput)
        process.closeWriteChannel();
    if (!process.waitForFinished(60000) || process.exitStatus() != QProcess::NormalExit) {
        process.kill();
        process.waitForFinished();
        return {};
    }
    return {process.exitCode(), process.readAllStandardOutput(), process.readAllStandardError()};
}

// What the window saves after loading the files (Missing for one that does not exist) and
// finding.
QByteArray windowSaves(const QStringList &paths, bool comma) {
    QTemporaryDir dir;
    Harness h;
    h.dialogs.openAnswers.enqueue(paths);
    h.button("PushButton5")->click();
    h.button("PushButton4")->click();
    const QString saved = dir.filePath(QStringLiteral("saved.txt"));
    h.dialogs.saveAnswers.enqueue(saved);
    h.button(comma ? "PushButton12" : "PushButton6")->click();
    QFile file(saved);
    if (!file.open(QIODevice::ReadOnly))
        qFatal("the window saved nothing");
    return file.readAll();
}
} // namespace

class CliTest : public QObject {
    Q_OBJECT
private slots:
    void sameBytesAsWindow_data();
    void sameBytesAsWindow();
    void usage_data();
    void usage();
    void fullDisk();
    void spill_data();
    void spill();
    void longLines_data();
    void longLines();
    void manualPageOptions();
};

void CliTest::sameBytesAsWindow_data() {
    QTest::addColumn<QList<int>>("files"); // indexes into Mixed; -1 for a missing file
    QTest::addColumn<int>("fromStdin");    // which of them comes through standard input, or -1
    QTest::addColumn<QStringList>("options");
    QTest::newRow("mixed files") << QList<int>{0, 1, 2, 3, 4} << -1 << QStringList{};
    QTest::newRow("comma") << QList<int>{0, 1, 2, 3} << -1 << QStringList{"--comma"};
    QTest::newRow("LF") << QList<int>{0, 1, 2} << -1 << QStringList{"--lf"};
    QTest::newRow("comma, LF") << QList<int>{1, 0} << -1 << QStringList{"--comma", "--lf"};
    QTest::newRow("standard input alone") << QList<int>{3} << 0 << QStringList{};
    QTest::newRow("standard input among files") << QList<int>{0, 1, 3} << 1 << QStringList{};
    QTest::newRow("a missing file") << QList<int>{0, -1, 1} << -1 << QStringList{};
}

// quorvel-find writes what the window saves after loading the same files and finding.
void CliTest::sameBytesAsWindow() {
    QFETCH(QList<int>, files);
    QFETCH(int, fromStdin);
    QFETCH(QStringList, options);
    QTemporaryDir dir;
    QStringList paths, args = options;
    QByteArray input;
    for (qsizetype i = 0; i < files.size(); ++i) {
        const QString path = dir.filePath(QStringLiteral("list%1.txt").arg(i));
        if (files[i] >= 0) {
            QFile file(path);
            QVERIFY(file.open(QIODevice::WriteOnly));
            file.write(Mixed[files[i]]);
        }
        paths << path;
        if (i == fromStdin)
            input = Mixed[files[i]];
        args << (i == fromStdin ? QStringLiteral("-") : path);
    }
    if (files.size() == 1 && fromStdin == 0)
        args = options; // no FILE at all: standard input

    const Run run = runFind(args, input);

    QByteArray expected = windowSaves(paths, options.contains(QStringLiteral("--comma")));
    if (options.contains(QStringLiteral("--lf")))
        expected.replace("\r\n", "\n");
    QVERIFY(expected.size() > 4); // not a vacuous comparison
    QCOMPARE(run.out, expected);
    if (files.contains(-1)) {
        QCOMPARE(run.status, 1);
        QCOMPARE(run.err, "quorvel-find: " + QFile::encodeName(paths[files.indexOf(-1)]) +
                              ": File not found\n");
    } else {
        QCOMPARE(run.status, 0);
        QCOMPARE(run.err, QByteArray());
    }
}

void CliTest::usage_data() {
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<int>("status");
    QTest::addColumn<QByteArray>("out");
    QTest::addColumn<QByteArray>("errStart");
    QTest::newRow("unknown option") << QStringList{"--bogus"} << 2 << QByteArray()
                                    << QByteArray("quorvel-find: unknown option --bogus\nusage: ");
    QTest::newRow("budget too small")
        << QStringList{"--memory=1K"} << 2 << QByteArray()
        << QByteArray("quorvel-find: bad size for --memory: 1K (at least 64K)\nusage: ");
    QTest::newRow("budget too large")
        << QStringList{"--memory", "99999999T"} << 2 << QByteArray()
        << QByteArray("quorvel-find: bad size for --memory: 99999999T (too large)\nusage: ");
    QTest::newRow("budget beyond any number")
        << QStringList{"--memory=99999999999999999999"} << 2 << QByteArray()
        << QByteArray("quorvel-find: bad size for --memory: 99999999999999999999 (too large)\n");
    QTest::newRow("budget not a size")
        << QStringList{"--memory=12X"} << 2 << QByteArray()
        << QByteArray("quorvel-find: bad size for --memory: 12X (bytes, or a number followed by "
                      "K, M, G or T)\nusage: ");
    QTest::newRow("budget with a lowercase unit")
        << QStringList{"--memory", "64k"} << 0 << QByteArray() << QByteArray();
    QTest::newRow("empty temporary folder")
        << QStringList{"--temp-dir="} << 2 << QByteArray()
        << QByteArray("quorvel-find: --temp-dir needs a folder\nusage: ");
    QTest::newRow("version") << QStringList{"--version"} << 0 << QByteArray("quorvel-find 1.0\n")
                             << QByteArray();
    QTest::newRow("after --, a name") << QStringList{"--", "--lf"} << 1 << QByteArray()
                                      << QByteArray("quorvel-find: --lf: File not found\n");
    QTest::newRow("a folder") << QStringList{QStringLiteral(QUORVEL_SOURCE_DIR)} << 1
                              << QByteArray()
                              << QByteArray("quorvel-find: " QUORVEL_SOURCE_DIR ": ");
}

void CliTest::usage() {
    QFETCH(QStringList, args);
    QFETCH(int, status);
    QFETCH(QByteArray, out);
    QFETCH(QByteArray, errStart);
    const Run run = runFind(args);
    QCOMPARE(run.status, status);
    QCOMPARE(run.out, out);
    QVERIFY2(run.err.startsWith(errStart), run.err.constData());
    QCOMPARE(run.err.isEmpty(), errStart.isEmpty());
}

// Nothing that could not be written passes for success.
void CliTest::fullDisk() {
    if (!QFile::exists(QStringLiteral("/dev/full")))
        QSKIP("no /dev/full here");
    const Run run = runFind({QStringLiteral("--lf")}, "x\ny\nx\n", QStringLiteral("/dev/full"));
    QCOMPARE(run.status, 3);
    QCOMPARE(run.err, QByteArray("quorvel-find: standard output: No space left on device\n"));
}

// count lines from distinct values, line ends taken in turn.
QByteArray numbered(int count, int distinct, const QList<QByteArray> &ends,
                    const char *prefix = "v") {
    QByteArray list;
    for (int i = 0; i < count; ++i)
        list += prefix + QByteArray::number(qint64(i) * 7919 % distinct) + ends[i % ends.size()];
    return list;
}

// Stands for a file that fails at its first read.
const QByteArray Unreadable("(unreadable)");

// A wrapper that starts quorvel-find with standard output or error closed, as temp asks.
QStringList closing(const QString &temp) {
    if (temp == QLatin1String("closed output"))
        return {"bash", "-c", "exec \"$@\" >&-", "bash"};
    if (temp == QLatin1String("closed errors"))
        return {"bash", "-c", "exec \"$@\" 2>&-", "bash"};
    return {};
}

void CliTest::spill_data() {
    QTest::addColumn<QList<QByteArray>>("lists"); // the first through standard input
    QTest::addColumn<QStringList>("options");
    QTest::addColumn<QString>("temp"); // how the temporary folder fails, if it does
    QTest::addColumn<QByteArray>("err");
    const QList<QByteArray> lf = {"\n"};
    const QByteArray anyEnd = numbered(150000, 40000, {"\r\n", "\n", "\r"});
    QByteArray blanks;
    for (int i = 0; i < 150000; ++i)
        blanks += (i % 3 == 0   ? QByteArray()
                   : i % 3 == 1 ? "  "
                                : "b" + QByteArray::number(i % 997)) +
                  "\r\n";
    // As long as a line may be at 64K, longer than the buffers there.
    const QByteArray huge = QByteArray(4096, 'h') + "\n", long2 = QByteArray(4000, 'g') + "\n";
    const QByteArray none;
    QTest::newRow("CR, LF, CR LF") << QList{anyEnd} << QStringList{} << QString() << none;
    QTest::newRow("encodings")
        << QList{QByteArray("\xEF\xBB\xBF") + numbered(40000, 9000, lf, "\xE2\x82\xAC"),
                 utf16(QString::fromUtf8(numbered(40000, 9000, {"\r\n"}, "\xC3\xA9"))),
                 numbered(40000, 9000, {"\r\n"}, "caf\xE9"), numbered(40000, 9000, lf, "\xC3\xA9")}
        << QStringList{} << QString() << none;
    QTest::newRow("blank lines") << QList{blanks} << QStringList{"--lf"} << QString() << none;
    QTest::newRow("long lines") << QList{numbered(30000, 9000, lf) + huge + long2 + huge,
                                         long2 + huge + long2 + numbered(9, 9, lf) + long2}
                                << QStringList{} << QString() << none;
    QTest::newRow("all equal") << QList{QByteArray("same\n").repeated(200000)} << QStringList{}
                               << QString() << none;
    QTest::newRow("all distinct") << QList{numbered(100000, 100000, lf)} << QStringList{}
                                  << QString() << none;
    QTest::newRow("comma") << QList{anyEnd, blanks} << QStringList{"--comma"} << QString() << none;
    QTest::newRow("a file failing once spilled")
        << QList{anyEnd, Unreadable, anyEnd} << QStringList{} << QString() << none;
    QTest::newRow("temporary folder full")
        << QList{anyEnd} << QStringList{} << "size=64k" << QByteArray("No space left on device");
    QTest::newRow("temporary folder read-only")
        << QList{anyEnd} << QStringList{} << "ro" << QByteArray("Read-only file system");
    QTest::newRow("temporary folder missing")
        << QList{anyEnd} << QStringList{} << "missing" << QByteArray("No such file or directory");
    QTest::newRow("standard output closed") << QList{numbered(600000, 100000, lf)} << QStringList{}
                                            << "closed output" << QByteArray("Bad file descriptor");
    QTest::newRow("standard error closed, a file failing")
        << QList{anyEnd, Unreadable, anyEnd} << QStringList{} << "closed errors" << none;
    QTest::newRow("ended mid-spill")
        << QList{anyEnd + anyEnd} << QStringList{} << "SIGTERM" << none;
}

// Beyond its memory budget quorvel-find writes what it writes within it, to the byte, and
// leaves nothing in the temporary folder.
void CliTest::spill() {
    QFETCH(QList<QByteArray>, lists);
    QFETCH(QStringList, options);
    QFETCH(QString, temp);
    QFETCH(QByteArray, err);
    QTemporaryDir dir, tempDir;
    QStringList args = options << QStringLiteral("-");
    for (qsizetype i = 1; i < lists.size(); ++i) {
        if (lists[i] == Unreadable) {
            args << QStringLiteral("/proc/self/mem"); // nothing is mapped at its start
            continue;
        }
        QFile file(dir.filePath(QString::number(i)));
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(lists[i]);
        args << file.fileName();
    }
    const QString folder =
        temp == QLatin1String("missing") ? tempDir.filePath("gone") : tempDir.path();
    args << QStringLiteral("--temp-dir") << folder << QStringLiteral("--memory");

    if (temp == QLatin1String("SIGTERM")) {
        // Killed while its spill files are open: they were never to be seen, nor are they now.
        QProcess process;
        process.start(QStringLiteral(QUORVEL_FIND), args << QStringLiteral("64K"));
        process.write(lists[0]);
        const QString fds = QStringLiteral("/proc/%1/fd").arg(process.processId());
        auto spilling = [&] {
            for (const QString &fd : QDir(fds).entryList(QDir::AllEntries | QDir::System)) {
                char target[4096];
                const QByteArray link = QFile::encodeName(fds + '/' + fd);
                const ssize_t size = readlink(link.constData(), target, sizeof target);
                if (size > 0 && QFile::decodeName(QByteArray(target, size))
                                    .startsWith(folder + QLatin1Char('/')))
                    return true;
            }
            return false;
        };
        QTRY_VERIFY(spilling());
        QVERIFY(QDir(folder).isEmpty());
        process.terminate();
        QVERIFY(process.waitForFinished());
        QCOMPARE(process.exitStatus(), QProcess::CrashExit);
        QVERIFY(QDir(folder).isEmpty());
        return;
    }
    if (!err.isEmpty()) {
        QStringList wrapper = closing(temp);
        if (wrapper.isEmpty() && temp != QLatin1String("missing"))
            wrapper =
                QStringList{"unshare",
                            "-rm",
                            "bash",
                            "-c",
                            "mount -t tmpfs -o " + temp + " tmpfs \"$0\" || exit 99; exec \"$@\"",
                            folder};
        const Run run = runFind(args << QStringLiteral("64K"), lists[0], {}, wrapper);
        if (run.status == 99)
            QSKIP("no tmpfs can be mounted here");
        const QByteArray about = temp == QLatin1String("closed output")
                                     ? QByteArray("standard output")
                                     : QFile::encodeName(folder);
        QCOMPARE(run.err, "quorvel-find: " + about + ": " + err + "\n");
        QCOMPARE(run.status, 3);
        QCOMPARE(run.out, QByteArray());
        return;
    }

    const Run inMemory = runFind(args.mid(0, args.size() - 3), lists[0]);
    QCOMPARE(inMemory.status, lists.contains(Unreadable) ? 1 : 0);
    QCOMPARE(inMemory.err.isEmpty(), inMemory.status == 0);
    // Spilled, then split again and again.
    for (const char *budget : {"1M", "64K"}) {
        const Run run =
            runFind(QStringList(args) << QString::fromLatin1(budget), lists[0], {}, closing(temp));
        QCOMPARE(run.err, temp.isEmpty() ? inMemory.err : QByteArray());
        QCOMPARE(run.status, inMemory.status);
        QVERIFY(run.out == inMemory.out);
        QVERIFY(QDir(folder).isEmpty());
    }
}

void CliTest::longLines_data() {
    QTest::addColumn<QList<QByteArray>>("lists"); // files, with "-" for standard input
    QTest::addColumn<QStringList>("options");
    QTest::addColumn<QByteArray>("out");
    QTest::addColumn<QByteArray>("err"); // %1 stands for the folder of the files
    QTest::addColumn<int>("dataLimit");  // in MB, 0 for none
    const QByteArray line = QByteArray(3 << 20, 'h');
    // More than the long line, so that the middle of the file falls among them.
    const QByteArray shortLines = numbered(120000, 1000, {"\n"}, "a value as long as some are, ");
    QTest::newRow("from a file, spilled")
        << QList{QByteArray("a\n\nb\n") + line + "\n" + line} << QStringList{"--memory", "1M"}
        << QByteArray() << QByteArray("%1/0: line 4 is longer than --memory 1M allows (64K a line)")
        << 0;
    QTest::newRow("whole within a block")
        << QList{QByteArray("a\nb\n") + QByteArray(100000, 'h') + "\n"}
        << QStringList{"--memory", "1M"} << QByteArray()
        << QByteArray("%1/0: line 3 is longer than --memory 1M allows (64K a line)") << 0;
    // Ending just past the first block read, the whole line before it.
    const QByteArray atLimit = QByteArray(4096, 'h');
    QTest::newRow("as long as allowed, across blocks")
        << QList{QByteArray(1023, 'p').append('\n').repeated(1020) + atLimit + "\n" + atLimit}
        << QStringList{"--memory", "64K", "--lf"}
        << QByteArray(1023, 'p').append('\n').repeated(510) + atLimit + "\n"
        << QByteArray() << 0;
    QTest::newRow("counted in its own file, any line end")
        << QList{QByteArray("x\r\ny\r\n"), QByteArray("a\r\rb\r\n") + line}
        << QStringList{"--memory", "1048576"} << QByteArray()
        << QByteArray("%1/1: line 4 is longer than --memory 1M allows (64K a line)") << 0;
    QTest::newRow("far into a file kept in memory")
        << QList{shortLines + line} << QStringList{"--memory", "32M"} << QByteArray()
        << QByteArray("%1/0: line 120001 is longer than --memory 32M allows (2M a line)") << 0;
    QTest::newRow("from a pipe that never ends")
        << QList{QByteArray("-")} << QStringList{"--memory", "100000"} << QByteArray()
        << QByteArray("standard input: line 1 is longer than --memory 100000 allows (6250 a line)")
        << 0;
    QTest::newRow("no budget named, no line too long")
        << QList{line + "\n" + line} << QStringList{"--lf"} << line + "\n"
        << QByteArray() << 0;
    // Each as long as a line may be: none may keep room for it long after, in the batches read,
    // the buffers of the partitions or the readers of the merge.
    QByteArray pairs, rows;
    for (int i = 0; i < 200; ++i) {
        const QByteArray text = QByteArray::number(i).rightJustified(64 << 10, '.');
        pairs += text + "\n" + text + "\n";
        rows += text + "\r\n";
    }
    QTest::newRow("many lines as long as allowed, in a budget")
        << QList{pairs} << QStringList{"--memory", "1M"} << rows << QByteArray() << 32;
}

// A line longer than the budget allows is refused before it is read whole, and nothing is
// written as if it were an answer.
void CliTest::longLines() {
    QFETCH(QList<QByteArray>, lists);
    QFETCH(QStringList, options);
    QFETCH(QByteArray, out);
    QFETCH(QByteArray, err);
    QFETCH(int, dataLimit);
#if defined(__SANITIZE_ADDRESS__)
    if (dataLimit)
        QSKIP("the address sanitizer needs more memory than the limit leaves");
#endif
    QTemporaryDir dir;
    QStringList args = options;
    for (qsizetype i = 0; i < lists.size(); ++i) {
        if (lists[i] == "-") {
            args << QStringLiteral("-");
            continue;
        }
        QFile file(dir.filePath(QString::number(i)));
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(lists[i]);
        args << file.fileName();
    }
    const QStringList limit{"prlimit", "--data=" + QString::number(qint64(dataLimit) << 20)};
    const Run run =
        runFind(args << QStringLiteral("--temp-dir") << dir.path(), QByteArray(8 << 20, 'x'), {},
                dataLimit ? limit : QStringList(), !lists.contains("-"));
    QCOMPARE(run.out, out);
    QCOMPARE(run.err,
             err.isEmpty()
                 ? err
                 : "quorvel-find: " + err.replace("%1", QFile::encodeName(dir.path())) + "\n");
    QCOMPARE(run.status, err.isEmpty() ? 0 : 3);
}

// The manual page names the options --help names, no more and no fewer.
void CliTest::manualPageOptions() {
    const auto options = [](const QString &text) {
        static const QRegularExpression option(QStringLiteral("(?<![\\w-])--[a-z][a-z-]*"));
        QStringList found;
        for (const QRegularExpressionMatch &match : option.globalMatch(text))
            found << match.captured();
        found.removeDuplicates();
        found.sort();
        return found;
    };
    const Run help = runFind({QStringLiteral("--help")});
    QFile page(QStringLiteral(QUORVEL_SOURCE_DIR "/data/quorvel-find.1.in"));
    QVERIFY(page.open(QIODevice::ReadOnly));
    const QStringList helpOptions = options(QString::fromUtf8(help.out));
    QVERIFY(helpOptions.contains(QStringLiteral("--version")));
    QCOMPARE(
        options(
            QString::fromUtf8(page.readAll()).replace(QLatin1String("\\-"), QLatin1String("-"))),
        helpOptions);
}

QTEST_MAIN(CliTest)
#include "tst_cli.moc"
