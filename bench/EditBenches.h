#pragma once

// Single edits and keys on lists of millions, timed through the window as a user makes them:
// edits while a search runs, a type-ahead key, a drag past a huge item. Included by
// quorvel_bench.cpp only.
#include "BenchSupport.h"

#include <functional>

#include <sys/resource.h>
#include <unistd.h>

namespace {

void sendMouse(QWidget *target, QEvent::Type type, QPoint at, Qt::MouseButtons buttons,
               Qt::MouseButton button = Qt::LeftButton) {
    QMouseEvent event(type, QPointF(at), QPointF(target->mapToGlobal(at)),
                      type == QEvent::MouseMove ? Qt::NoButton : button, buttons, Qt::NoModifier);
    QCoreApplication::sendEvent(target, &event);
}

void sendKey(QWidget *target, int key, const QString &text = {},
             Qt::KeyboardModifiers modifiers = Qt::NoModifier) {
    QKeyEvent press(QEvent::KeyPress, key, modifiers, text);
    QCoreApplication::sendEvent(target, &press);
    QKeyEvent release(QEvent::KeyRelease, key, modifiers, text);
    QCoreApplication::sendEvent(target, &release);
}

// Memory the interface thread touched for the first time: what an edit took, without what
// the search's threads take meanwhile.
double threadNewPagesMB() {
    rusage usage{};
    getrusage(RUSAGE_THREAD, &usage);
    return double(usage.ru_minflt) * double(sysconf(_SC_PAGESIZE)) / double(1 << 20);
}

// A row from the middle on whose text differs from the next one's, so a drag exchanges them.
int middleRowBeforeOther(const TextListModel &list) {
    int row = list.itemCount() / 2;
    while (row + 2 < list.itemCount() && list.itemText(row + 1) == list.itemText(row + 2))
        ++row;
    return row;
}

// Shows row (from 0) in the middle of the view and returns its centre.
QPoint showRow(ReportView *view, int row) {
    view->scrollTo(view->model()->index(row, 0), QAbstractItemView::PositionAtCenter);
    drainEvents();
    return view->visualRect(view->model()->index(row, 0)).center();
}

// Start Finding on n items and, in its first turns, what a user does without thinking: Load
// Sample/Example Files, a drag exchange with the right button in the middle and a Delete
// there (which the hourglass refuses).
bool benchEditDuringFind(long long n) {
    RandomList list(std::uint64_t(n), ItemSeed);
    const long long expectedRows = list.expectedRows();
    Bench bench;
    Form1 &w = *bench.window;
    TextListModel &input = w.inputList();
    appendList(input, list);
    drainEvents();
    ReportView *view = w.listView1();
    QWidget *viewport = view->viewport();
    const int row = middleRowBeforeOther(input); // from 0, as the view counts
    const QString upper = input.itemText(row + 1);
    const QString lower = input.itemText(row + 2);
    const int removed = row + 3;
    const QString atRemoved = input.itemText(removed + 1);
    const QPoint from = showRow(view, row);
    const QPoint to = view->visualRect(input.index(row + 1)).center();
    const std::vector<std::function<void()>> edits = {
        [&] { w.findChild<QPushButton *>(QStringLiteral("PushButton2"))->click(); },
        [&] {
            sendMouse(viewport, QEvent::MouseButtonPress, from, Qt::RightButton, Qt::RightButton);
            sendMouse(viewport, QEvent::MouseMove, to, Qt::RightButton);
            sendMouse(viewport, QEvent::MouseButtonRelease, to, Qt::NoButton, Qt::RightButton);
        },
        [&] {
            view->setCurrentIndex(view->model()->index(removed, 0));
            sendKey(view, Qt::Key_Delete);
        }};
    double editMax = 0;
    double growth = 0;
    std::size_t done = 0;
    bool duringFind = true;
    bool inEdit = false; // an edit that gives the event loop a turn must not start the next
    QTimer turn;
    turn.setInterval(0);
    QObject::connect(&turn, &QTimer::timeout, [&] {
        if (done == edits.size() || inEdit)
            return;
        inEdit = true;
        duringFind &= bench.window->resultsList().itemCount() < expectedRows;
        const double pages = threadNewPagesMB();
        QElapsedTimer clock;
        clock.start();
        edits[done++]();
        editMax = std::max(editMax, secondsOf(clock) * 1e3);
        growth += threadNewPagesMB() - pages;
        inEdit = false;
    });
    turn.start();
    StallProbe probe;
    figure("edit_during_find", bench.click("PushButton4", probe), "s", 3);
    turn.stop();
    figure("edit_during_find_edit_max", editMax, "ms", 1);
    figure("edit_during_find_stall_max", probe.maxMs(), "ms", 1);
    figure("edit_during_find_busy_max", probe.busyMaxMs(), "ms", 1);
    figure("edit_during_find_growth", growth, "MB", 1);
    drainEvents();
    bool sound = expectMessages("find", bench.dialogs.messages, {QStringLiteral("Done.")}) &&
                 done == edits.size() && duringFind &&
                 w.resultsList().itemCount() == expectedRows && input.itemCount() == n + 6 &&
                 input.itemText(row + 1) == lower && input.itemText(row + 2) == upper &&
                 input.itemText(removed + 1) == atRemoved; // Delete waits for the search
    if (!sound)
        std::fprintf(stderr, "%s\n",
                     done < edits.size() || !duringFind
                         ? "the search ended before the edits: give it more items"
                         : "the edits during the search gave a wrong list");
    return sound;
}

// A key that matches no item of n, then the beginning of the last item typed quickly; each
// from the key to the window's rest.
bool benchTypeAhead(long long n) {
    RandomList list(std::uint64_t(n), ItemSeed);
    Bench bench;
    TextListModel &input = bench.window->inputList();
    appendList(input, list);
    drainEvents();
    ReportView *view = bench.window->listView1();
    view->setFocus();
    view->setCurrentIndex(view->model()->index(0, 0));
    drainEvents();
    StallProbe probe;
    QElapsedTimer clock;
    probe.start();
    clock.start();
    sendKey(view, Qt::Key_NumberSign, QStringLiteral("#"));
    drainEvents();
    probe.stop();
    figure("type_ahead_miss", secondsOf(clock), "s", 3);
    figure("type_ahead_stall_max", probe.maxMs(), "ms", 1);
    figure("type_ahead_busy_max", probe.busyMaxMs(), "ms", 1);
    bool sound = view->currentIndex().row() == 0;

    // The next key starts a new search rather than extending "#".
    clock.start();
    while (!clock.hasExpired(QApplication::keyboardInputInterval() + 100))
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    const QString prefix = input.itemText(input.itemCount()).left(6).toUpper();
    int expected = 1;
    while (!input.itemText(expected + 1).startsWith(prefix, Qt::CaseInsensitive))
        ++expected;
    probe.start();
    clock.start();
    for (const QChar c : prefix)
        sendKey(view, Qt::Key_A + (c.unicode() - u'A'), QString(c));
    drainEvents();
    probe.stop();
    figure("type_ahead_found", secondsOf(clock), "s", 3);
    figure("type_ahead_found_stall_max", probe.maxMs(), "ms", 1);
    sound &= view->currentIndex().row() == expected;
    if (!sound)
        std::fprintf(stderr, "type-ahead selected row %d, expected %d\n",
                     view->currentIndex().row(), expected);
    return sound;
}

// An item of mb megabytes in the middle of n items, dragged down two rows a move and back up
// three, as merged mouse moves do; each move timed to the window's rest.
bool benchBigItemDrag(long long n, long long mb) {
    RandomList above(std::uint64_t(n / 2), ItemSeed);
    RandomList below(std::uint64_t(n - n / 2), FileSeed);
    Bench bench;
    Form1 &w = *bench.window;
    TextListModel &input = w.inputList();
    appendList(input, above);
    const qsizetype big = qsizetype(mb) << 20;
    {
        TextStore item;
        item.appendBytes(QByteArray(big, 'x'));
        input.appendItems(item);
    }
    appendList(input, below);
    drainEvents();
    ReportView *view = w.listView1();
    QWidget *viewport = view->viewport();
    int at = int(n / 2); // the big item's row
    sendMouse(viewport, QEvent::MouseButtonPress, showRow(view, at), Qt::LeftButton);
    drainEvents();
    resetPeakRss();
    const long before = statusKiB("VmRSS:");
    double stepMax = 0;
    StallProbe probe;
    probe.start();
    for (const int move : {2, 2, 2, 2, 2, -3, -3, -3, -3, -3}) {
        const QPoint from = showRow(view, at);
        QElapsedTimer clock;
        clock.start();
        sendMouse(viewport, QEvent::MouseMove,
                  from + QPoint(0, move * view->visualRect(view->model()->index(0, 0)).height()),
                  Qt::LeftButton);
        drainEvents();
        stepMax = std::max(stepMax, secondsOf(clock) * 1e3);
        at += move;
    }
    probe.stop();
    const long grown = peakRssKiB() - before;
    sendMouse(viewport, QEvent::MouseButtonRelease, showRow(view, at), Qt::NoButton);
    figure("big_item_drag_step", stepMax, "ms", 1);
    figure("big_item_drag_busy_max", probe.busyMaxMs(), "ms", 1);
    figure("big_item_drag_memory", double(std::max(grown, 0L)) / 1024.0, "MB", 0);
    const bool sound = input.store().bytes(at).size() == big && w.currentItem() == at + 1;
    if (!sound)
        std::fprintf(stderr, "the drag of the big item gave a wrong list\n");
    return sound;
}

} // namespace
