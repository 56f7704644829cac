// Copied results pasted in another program (xclip) through the real X11 clipboard, in a child
// window on a display of its own, under a limit on its address space: every target a paster
// may ask for is served whole or answered with nothing, and the window lives on.
#include "FaultsSupport.h"

#include "engine/store/TextListModel.h"
#include "gui/platform/QtClipboard.h"

#include <QApplication>
#include <QClipboard>
#include <QEventLoop>
#include <QProcess>
#include <QStandardPaths>
#include <QTest>

#include <sys/resource.h>

namespace {
constexpr int Rows = 400000;

// Each row once: a Latin-1 paster gets é as one byte and € and the emoji as '?'.
QString rowText(int i) {
    return QStringLiteral("\u00e9\u20ac\U0001F600 row %1").arg(i);
}

QByteArray expected(const QString &target) {
    QByteArray bytes;
    const bool latin = target == QLatin1String("STRING") || target == QLatin1String("TEXT");
    for (int i = 0; i < Rows; ++i) {
        const QString line = rowText(i) + QStringLiteral("\r\n");
        bytes += latin ? line.toLatin1() : line.toUtf8();
    }
    return bytes;
}

qint64 addressSpace() {
    QFile statm(QStringLiteral("/proc/self/statm"));
    statm.open(QIODevice::ReadOnly);
    return statm.readAll().split(' ').value(0).toLongLong() * sysconf(_SC_PAGESIZE);
}

// The child's side: copies the rows, then, under the limit, has xclip ask for every target at
// once and prints what each got ("TARGET: nothing", "TARGET: whole" or "TARGET: wrong").
int pasteChild(const QStringList &targets, bool tight, bool own) {
    QtClipboard system;
    Harness h(nullptr, &system);
    h.w().show();
    TextStore rows;
    for (int i = 0; i < Rows; ++i)
        rows.append(rowText(i));
    h.w().resultsList().setNewRowsChecked(true);
    h.w().resultsList().appendItems(rows);
    h.button("PushButton10")->click();
    if (!errorReports(h.dialogs).isEmpty())
        return 3;
    if (own) // what Qt places itself, as the input box's Copy does
        QGuiApplication::clipboard()->setText(QString::fromUtf8(expected({})));
    rlimit limit{};
    getrlimit(RLIMIT_AS, &limit);
    const rlimit unlimited = limit;
    // Room for the window's turns, not for a copy of the text.
    limit.rlim_cur = rlim_t(addressSpace() + (8 << 20));
    if (tight)
        setrlimit(RLIMIT_AS, &limit);

    // What each paste got goes to a file: read here, it would take the room.
    QTemporaryDir dir;
    std::vector<std::unique_ptr<QProcess>> pastes;
    int running = 0;
    QEventLoop loop;
    for (const QString &target : targets) {
        auto &paste = pastes.emplace_back(std::make_unique<QProcess>());
        QObject::connect(paste.get(), &QProcess::finished, &loop, [&] {
            if (--running == 0)
                loop.quit();
        });
        paste->setStandardOutputFile(dir.filePath(QString::number(pastes.size())));
        // "MULTIPLE A B": one request for several targets, which xclip cannot make.
        const QStringList multiple = target.split(QLatin1Char(' '));
        if (multiple.size() > 1)
            paste->start(
                QStringLiteral("/usr/bin/python3"),
                QStringList{QStringLiteral(QUORVEL_SOURCE_DIR "/tests/multiple_paste.py")} +
                    multiple.mid(1));
        else
            paste->start(QStringLiteral("xclip"),
                         {QStringLiteral("-o"), QStringLiteral("-selection"),
                          QStringLiteral("clipboard"), QStringLiteral("-t"), target});
        ++running;
    }
    loop.exec();
    setrlimit(RLIMIT_AS, &unlimited);
    for (size_t i = 0; i < pastes.size(); ++i) {
        QFile file(dir.filePath(QString::number(i + 1)));
        file.open(QIODevice::ReadOnly);
        const QByteArray got = file.readAll();
        // xclip fails on a target it does not get; the MULTIPLE asker only on its own fault.
        const bool failed =
            pastes[i]->program() != QLatin1String("xclip") &&
            (pastes[i]->exitStatus() != QProcess::NormalExit || pastes[i]->exitCode() != 0);
        const char *verdict = failed                        ? "failed"
                              : got.isEmpty()               ? "nothing"
                              : got == expected(targets[i]) ? "whole"
                                                            : "wrong";
        printf("%s: %s\n", qPrintable(targets[i]), verdict);
    }
    printf("alive\n");
    return 0;
}
} // namespace

class PasteTest : public QObject {
    Q_OBJECT
private slots:
    void pasteInAnotherProgram_data();
    void pasteInAnotherProgram();
};

void PasteTest::pasteInAnotherProgram_data() {
    QTest::addColumn<QStringList>("targets"); // asked for at once
    // tight: no room for a copy of the text; own: the text placed by Qt itself
    QTest::addColumn<QString>("kind");
    QTest::addColumn<QStringList>("verdicts");
    const QStringList all{"UTF8_STRING",   "STRING",     "TEXT",
                          "COMPOUND_TEXT", "text/plain", "text/plain;charset=utf-8"};
    QTest::newRow("every target, with room")
        << all << "free" << QStringList{"whole", "whole", "whole", "nothing", "whole", "whole"};
    QTest::newRow("every target at once, under the limit")
        << all << "tight"
        << QStringList{"whole", "nothing", "nothing", "nothing", "whole", "whole"};
    QTest::newRow("STRING alone, under the limit")
        << QStringList{"STRING"} << "tight" << QStringList{"nothing"};
    QTest::newRow("STRING of a text Qt placed itself")
        << QStringList{"STRING"} << "own" << QStringList{"whole"};
    QTest::newRow("STRING of a text Qt placed itself, under the limit")
        << QStringList{"STRING"} << "own-tight" << QStringList{"nothing"};
    QTest::newRow("UTF8_STRING and STRING in one MULTIPLE request, under the limit")
        << QStringList{"MULTIPLE UTF8_STRING STRING"} << "tight" << QStringList{"nothing"};
    QTest::newRow("TEXT twice at once, under the limit")
        << QStringList{"TEXT", "TEXT"} << "tight" << QStringList{"nothing", "nothing"};
}

void PasteTest::pasteInAnotherProgram() {
#if defined(__SANITIZE_ADDRESS__)
    QSKIP("the address sanitizer needs more address space than the limit leaves");
#endif
    QFETCH(QStringList, targets);
    QFETCH(QString, kind);
    QFETCH(QStringList, verdicts);
    for (const char *tool : {"xvfb-run", "xclip"})
        if (QStandardPaths::findExecutable(QString::fromLatin1(tool)).isEmpty())
            QSKIP("needs xvfb-run and xclip");
    QProcess child;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("xcb"));
    env.insert(QStringLiteral("QUORVEL_PASTE"),
               kind + QLatin1Char(',') + targets.join(QLatin1Char(',')));
    child.setProcessEnvironment(env);
    child.start(QStringLiteral("xvfb-run"),
                {QStringLiteral("-a"), QCoreApplication::applicationFilePath()});
    QVERIFY(child.waitForFinished(100000));
    const QString output = QString::fromUtf8(child.readAllStandardOutput());
    QVERIFY2(child.exitStatus() == QProcess::NormalExit && child.exitCode() == 0,
             qPrintable(output + QString::fromUtf8(child.readAllStandardError())));
    QStringList lines;
    for (qsizetype i = 0; i < targets.size(); ++i)
        lines << targets[i] + QStringLiteral(": ") + verdicts[i];
    lines << QStringLiteral("alive");
    QCOMPARE(output.split(QLatin1Char('\n'), Qt::SkipEmptyParts), lines);
}

int main(int argc, char **argv) {
    const QString child = qEnvironmentVariable("QUORVEL_PASTE");
    QApplication app(argc, argv);
    if (!child.isEmpty()) {
        QStringList targets = child.split(QLatin1Char(','));
        const QString kind = targets.takeFirst();
        return pasteChild(targets, kind.endsWith(QLatin1String("tight")),
                          kind.startsWith(QLatin1String("own")));
    }
    PasteTest test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_paste.moc"
