#pragma once

// Pastes and copies through the system clipboard: a long line into the real input box, and
// the results copied for another program. Included by quorvel_bench.cpp only.
#include "BenchSupport.h"
#include "EditBenches.h"
#include "gui/platform/QtClipboard.h"
#include "gui/platform/QtDialogs.h"

#include <QClipboard>
#include <QEventLoop>
#include <QLineEdit>
#include <QProcess>

namespace {

// Ctrl+V of one long line into the real input box, then repaints and the keys of an edit at
// its end: a keystroke, Backspace, Ctrl+A and a key replacing it all, Undo and Redo. Each is
// timed to its return, in the interface thread's processor time (and the wall time beside
// it); the box is confirmed and must give the line whole, with the keystroke.
bool benchPaste(long long mb) {
    const QString line(qsizetype(mb) << 20, QLatin1Char('p'));
    QGuiApplication::clipboard()->setText(line);
    resetPeakRss();
    const long before = statusKiB("VmRSS:");
    QtDialogs dialogs;
    QTimer::singleShot(0, [&] {
        QWidget *box = QApplication::activeModalWidget();
        auto *edit = box ? box->findChild<QLineEdit *>() : nullptr;
        if (!edit)
            return;
        drainEvents();
        auto timed = [&](const char *name, auto &&act) {
            QElapsedTimer clock;
            clock.start();
            const qint64 cpu = threadCpuNs();
            act();
            box->repaint();
            figure(name, double(threadCpuNs() - cpu) / 1e6, "ms", 1);
            figure((QByteArray(name) + "_wall").constData(), secondsOf(clock) * 1e3, "ms", 1);
        };
        timed("paste_key", [&] { sendKey(edit, Qt::Key_V, {}, Qt::ControlModifier); });
        double worst = 0;
        for (int i = 0; i < 3; ++i) {
            QElapsedTimer clock;
            clock.start();
            box->repaint();
            worst = std::max(worst, secondsOf(clock));
        }
        figure("paste_repaint_max", worst * 1e3, "ms", 1);
        timed("paste_keystroke", [&] { sendKey(edit, Qt::Key_X, QStringLiteral("x")); });
        timed("paste_backspace", [&] { sendKey(edit, Qt::Key_Backspace); });
        sendKey(edit, Qt::Key_X, QStringLiteral("x"));
        timed("paste_replace_all", [&] {
            sendKey(edit, Qt::Key_A, {}, Qt::ControlModifier);
            sendKey(edit, Qt::Key_N, QStringLiteral("n"));
        });
        timed("paste_undo", [&] { sendKey(edit, Qt::Key_Z, {}, Qt::ControlModifier); });
        timed("paste_redo",
              [&] { sendKey(edit, Qt::Key_Z, {}, Qt::ControlModifier | Qt::ShiftModifier); });
        sendKey(edit, Qt::Key_Z, {}, Qt::ControlModifier);
        figure("paste_memory", double(peakRssKiB() - before) / 1024.0, "MB", 0);
        sendKey(edit, Qt::Key_Return);
    });
    const QString entered =
        dialogs.inputBox(QStringLiteral("Enter item to add: "), QStringLiteral("Quorvel"));
    const bool sound = entered.size() == line.size() + 1 && entered.endsWith(QLatin1String("px"));
    if (!sound)
        std::fprintf(stderr, "the box gave %lld characters\n", (long long)entered.size());
    return sound;
}

// Start Finding on N items, Copy Results To Clipboard, then a paste in xclip, which the
// window serves from its event loop.
bool benchCopyPaste(long long items) {
    InstantDialogs dialogs;
    QtClipboard clipboard;
    FileSystem files;
    QTemporaryDir appFolder;
    Form1 w(dialogs, clipboard, files, appFolder.path());
    w.show();
    drainEvents();
    RandomList list(std::uint64_t(items), ItemSeed);
    appendList(w.inputList(), list);
    w.findChild<QPushButton *>(QStringLiteral("PushButton4"))->click();
    qint64 expected = 0;
    {
        const TextStore rows = w.resultsList().store();
        for (qsizetype i = 0; i < rows.size(); ++i)
            expected += rows.bytes(i).size() + 2;
    }
    figure("rows", w.resultsList().itemCount(), "count", 0);
    dialogs.messages.clear();
    QElapsedTimer clock;
    clock.start();
    w.findChild<QPushButton *>(QStringLiteral("PushButton10"))->click();
    figure("copy", secondsOf(clock), "s", 3);
    std::fprintf(stderr, "copy showed: %s\n",
                 qPrintable(dialogs.messages.join(QLatin1String(" | "))));
    figure("copy_peak_rss", double(peakRssKiB()) / 1024.0, "MB", 0);

    QProcess paste;
    qint64 pasted = 0;
    QObject::connect(&paste, &QProcess::readyReadStandardOutput,
                     [&] { pasted += paste.readAllStandardOutput().size(); });
    QEventLoop loop;
    QObject::connect(&paste, &QProcess::finished, &loop, &QEventLoop::quit);
    QObject::connect(&paste, &QProcess::errorOccurred, &loop, &QEventLoop::quit);
    clock.restart();
    paste.start(QStringLiteral("xclip"),
                {QStringLiteral("-o"), QStringLiteral("-selection"), QStringLiteral("clipboard")});
    loop.exec();
    pasted += paste.readAllStandardOutput().size();
    figure("paste", secondsOf(clock), "s", 3);
    figure("paste_bytes", double(pasted), "bytes", 0);
    figure("paste_expected_bytes", double(expected), "bytes", 0);
    figure("paste_peak_rss", double(peakRssKiB()) / 1024.0, "MB", 0);
    figure("window_alive", 1, "", 0);
    return true;
}

} // namespace
