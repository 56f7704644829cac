// Times the window's bulk paths (append, find, file load, folder drop) and single edits in
// the middle of the list (a drag exchange, a Delete) through a real, shown Form1 and reports
// how long the event loop went unserved and how much memory the lists hold.
//
// usage: quorvel_bench [N] [--file-lines M]
//        quorvel_bench --write-list PATH [--file-lines M]
//        quorvel_bench --load-find PATH [--no-views]
//        quorvel_bench [--deep LEVELS]... [N --big-item MB]
//        quorvel_bench [N] --edit-during-find | --type-ahead
//        quorvel_bench [N] --copy-paste    (on X11, with xclip)
//        quorvel_bench --paste MB
//        quorvel_bench [N] --cleared-memory
// Prints one figure a line as "name value unit". Exits with 1 when a command gave a wrong
// result or showed an unexpected message. --write-list only writes the list file the load is
// timed on (M lines, CR LF), for comparisons with other tools; --load-find only loads a list
// file into an empty window and finds on it, as a user would; with --no-views, the lists
// are shown by no view, so the figures leave out what views keep per row. --deep times only the
// drop of a chain of LEVELS folders, --big-item only drag steps of an item of MB megabytes
// among N, --edit-during-find only edits during a search of N items, --type-ahead only keys
// typed into a list of N. --copy-paste finds on N items, copies the results to the system
// clipboard and pastes them in another program (xclip), as under a memory limit (ulimit -v)
// the window must survive. --paste times a paste of one line of MB megabytes into the
// "Add One Item To List" box, the repaints and the keys of an edit after it. --cleared-memory loads
// and finds on a list of N lines, clears both lists and compares the resident size with a
// fresh window's.
#include "BenchSupport.h"
#include "ClipboardBenches.h"
#include "EditBenches.h"
#include "engine/core/MemoryLimits.h"
#include "MemoryBenches.h"

#include <QEventLoop>

#include <cstring>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// A drag step that exchanges two texts of different lengths, then a Delete, both in the
// middle of the input list, each timed from the event to its return plus the repaint after.
bool benchEdits(Bench &bench) {
    Form1 &w = *bench.window;
    TextListModel &input = w.inputList();
    if (input.itemCount() < 3)
        return true;
    int row = input.itemCount() / 2; // 0-based
    while (row + 3 < input.itemCount() &&
           input.itemText(row + 1).size() == input.itemText(row + 2).size())
        ++row;
    const QString upper = input.itemText(row + 1);
    const QString lower = input.itemText(row + 2);
    ReportView *view = w.listView1();
    view->scrollTo(input.index(row), QAbstractItemView::PositionAtCenter);
    drainEvents();
    QWidget *viewport = view->viewport();
    const QPoint from = view->visualRect(input.index(row)).center();
    const QPoint to = view->visualRect(input.index(row + 1)).center();
    sendMouse(viewport, QEvent::MouseButtonPress, from, Qt::LeftButton);
    QElapsedTimer clock;
    clock.start();
    sendMouse(viewport, QEvent::MouseMove, to, Qt::LeftButton);
    const double exchange = secondsOf(clock);
    const double exchangeSettle = drainEvents();
    sendMouse(viewport, QEvent::MouseButtonRelease, to, Qt::NoButton);
    figure("drag_exchange", exchange * 1e3, "ms", 2);
    figure("drag_exchange_settle", exchangeSettle * 1e3, "ms", 2);
    // Positions count from 1: the text pressed was at row + 1.
    bool sound = input.itemText(row + 1) == lower && input.itemText(row + 2) == upper &&
                 w.currentItem() == row + 2;
    drainEvents();
    const QString next = input.itemText(row + 3);

    const int count = input.itemCount();
    QKeyEvent press(QEvent::KeyPress, Qt::Key_Delete, Qt::NoModifier);
    clock.start();
    QCoreApplication::sendEvent(view, &press);
    const double remove = secondsOf(clock);
    const double removeSettle = drainEvents();
    figure("delete", remove * 1e3, "ms", 2);
    figure("delete_settle", removeSettle * 1e3, "ms", 2);
    sound &= input.itemCount() == count - 1 && input.itemText(row + 1) == lower &&
             input.itemText(row + 2) == next;
    if (!sound)
        std::fprintf(stderr, "the drag or the Delete gave a wrong list\n");
    return sound;
}

// Append and find on a list of options.items items; false when the find went wrong.
bool benchFind(const Options &options) {
    RandomList list(std::uint64_t(options.items), ItemSeed);
    const long long expectedRows = list.expectedRows();
    Bench bench;
    TextListModel &input = bench.window->inputList();

    figure("append", appendList(input, list), "s", 3);
    figure("append_settle", drainEvents(), "s", 3);
    bool sound = true;
    if (input.itemCount() != options.items) {
        std::fprintf(stderr, "input holds %d items, expected %lld\n", input.itemCount(),
                     options.items);
        sound = false;
    }

    {
        // A snapshot shares the texts; it must be gone before the edits, or they copy them.
        const TextStore store = input.store();
        const double textBytes = double(store.textBytes());
        figure("input_store_bytes", double(store.bytesAllocated()), "bytes", 0);
        figure("input_text_bytes", textBytes, "bytes", 0);
        figure("input_store_ratio", textBytes > 0 ? double(store.bytesAllocated()) / textBytes : 0,
               "x", 3);
    }

    StallProbe probe;
    figure("find", bench.click("PushButton4", probe), "s", 3);
    const int rows = bench.window->resultsList().itemCount();
    figure("rows", rows, "count", 0);
    figure("stall_max", probe.maxMs(), "ms", 1);
    figure("busy_max", probe.busyMaxMs(), "ms", 1);
    figure("stall_p99", probe.percentileMs(0.99), "ms", 1);
    figure("find_settle", drainEvents(), "s", 3);
    sound &= expectMessages(
        "find", bench.dialogs.messages,
        {options.items > 0 ? QStringLiteral("Done.") : QStringLiteral("No files added.")});
    if (rows != expectedRows) {
        std::fprintf(stderr, "find gave %d rows, expected %lld\n", rows, expectedRows);
        sound = false;
    }
    sound &= benchEdits(bench);
    return sound;
}

// "Load Data From File" of a list file into an empty window, then "Start Finding" on it: the
// two commands a user gives, each with its own peak memory. lines < 0: any number of lines.
bool loadAndFind(const QString &path, long long lines, bool views = true) {
    resetPeakRss();
    Bench bench;
    if (!views) {
        // What the lists cost without any view state per row.
        bench.window->listView1()->setModel(nullptr);
        bench.window->listView2()->setModel(nullptr);
        drainEvents();
        figure("empty_window_rss", double(statusKiB("VmRSS:")) / 1024.0, "MB", 0);
    }
    bench.dialogs.openAnswers.enqueue({path});
    StallProbe probe;
    const double load = bench.click("PushButton5", probe);
    const double loadStall = probe.maxMs();
    figure("load_file", load, "s", 3);
    const int items = bench.window->inputList().itemCount();
    figure("load_items", items, "count", 0);
    figure("load_stall_max", loadStall, "ms", 1);
    figure("load_busy_max", probe.busyMaxMs(), "ms", 1);
    const double loadSettle = drainEvents();
    figure("load_settle", loadSettle, "s", 3);
    bool sound = expectMessages("load", bench.dialogs.messages, {});
    if (lines >= 0 && items != lines) {
        std::fprintf(stderr, "loaded %d items from %lld lines\n", items, lines);
        sound = false;
    }
    const long loadPeak = peakRssKiB();
    figure("load_peak_rss", double(loadPeak) / 1024.0, "MB", 0);
    figure("load_rss", double(statusKiB("VmRSS:")) / 1024.0, "MB", 0);
    figure("load_store_bytes", double(bench.window->inputList().store().bytesAllocated()) / 1e6,
           "MB", 0);
    resetPeakRss();

    // The search's peak before its first row (the index) and from then on (the rows).
    long pairingPeak = -1;
    const QMetaObject::Connection firstRow = QObject::connect(
        &bench.window->resultsList(), &QAbstractItemModel::rowsAboutToBeInserted, [&] {
            if (pairingPeak < 0) {
                pairingPeak = peakRssKiB();
                resetPeakRss();
            }
        });
    const double find = bench.click("PushButton4", probe);
    QObject::disconnect(firstRow);
    figure("load_find", find, "s", 3);
    figure("load_find_rows", bench.window->resultsList().itemCount(), "count", 0);
    figure("load_find_stall_max", probe.maxMs(), "ms", 1);
    figure("load_find_busy_max", probe.busyMaxMs(), "ms", 1);
    const double findSettle = drainEvents();
    figure("load_find_settle", findSettle, "s", 3);
    figure("load_find_rows_bytes",
           double(bench.window->resultsList().store().bytesAllocated()) / 1e6, "MB", 0);
    const long rowsPeak = peakRssKiB();
    const long findPeak = std::max(pairingPeak, rowsPeak);
    figure("load_find_pairing_peak_rss", double(pairingPeak) / 1024.0, "MB", 0);
    figure("load_find_rows_peak_rss", double(rowsPeak) / 1024.0, "MB", 0);
    figure("load_find_peak_rss", double(findPeak) / 1024.0, "MB", 0);
    figure("load_and_find", load + loadSettle + find + findSettle, "s", 3);
    figure("load_and_find_stall_max", std::max(loadStall, probe.maxMs()), "ms", 1);
    sound &= expectMessages("find", bench.dialogs.messages, {QStringLiteral("Done.")});
    const double fileBytes = double(QFileInfo(path).size());
    const long peak = std::max(loadPeak, findPeak);
    figure("load_and_find_peak_rss", double(peak) / 1024.0, "MB", 0);
    figure("load_and_find_peak_per_file", fileBytes > 0 ? double(peak) * 1024.0 / fileBytes : 0,
           "x", 2);
    return sound;
}

bool benchLoad(const Options &options) {
    QTemporaryDir folder;
    const QString path = folder.filePath(QStringLiteral("list.txt"));
    if (!folder.isValid() ||
        !writeListFile(path, RandomList(std::uint64_t(options.fileLines), FileSeed))) {
        std::fprintf(stderr, "cannot write %s\n", qPrintable(path));
        return false;
    }
    return loadAndFind(path, options.fileLines);
}

// A tree of DropFolders folders (DropBranches at the top, the rest one level below them)
// holding DropFilesPerFolder empty files each.
constexpr int DropBranches = 100;
constexpr int DropFolders = 10'000;
constexpr int DropFilesPerFolder = 10;

bool writeDropTree(const QString &root) {
    const int below = DropFolders / DropBranches - 1;
    auto fill = [](const QString &folder) {
        if (!QDir().mkpath(folder))
            return false;
        for (int f = 0; f < DropFilesPerFolder; ++f) {
            QFile file(folder + QStringLiteral("/f%1.txt").arg(f));
            if (!file.open(QIODevice::WriteOnly))
                return false;
        }
        return true;
    };
    for (int b = 0; b < DropBranches; ++b) {
        const QString branch = root + QStringLiteral("/d%1").arg(b);
        if (!fill(branch))
            return false;
        for (int e = 0; e < below; ++e)
            if (!fill(branch + QStringLiteral("/e%1").arg(e)))
                return false;
    }
    return true;
}

// Drops root on the input list as a file manager would and serves the event loop until the
// list holds expected items (or a minute has passed); returns the seconds taken.
double dropAndWait(Bench &bench, const QString &root, int expected, StallProbe &probe) {
    QWidget *viewport = bench.window->listView1()->viewport();
    QMimeData data;
    data.setUrls({QUrl::fromLocalFile(root)});
    const QPoint where = viewport->rect().center();
    QDragEnterEvent enter(where, Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(viewport, &enter);
    QDropEvent drop(where, Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QElapsedTimer clock;
    probe.start();
    clock.start();
    QCoreApplication::sendEvent(viewport, &drop);
    while (bench.window->inputList().itemCount() < expected && !clock.hasExpired(60'000))
        QCoreApplication::processEvents(QEventLoop::AllEvents);
    const double seconds = secondsOf(clock);
    probe.stop();
    return seconds;
}

bool expectItems(const char *what, int items, int expected) {
    if (items == expected)
        return true;
    std::fprintf(stderr, "%s gave %d items from %d files\n", what, items, expected);
    return false;
}

// A drop of the tree's folder on the input list, as a file manager would make it.
bool benchDrop() {
    QTemporaryDir folder;
    const QString root = folder.filePath(QStringLiteral("tree"));
    if (!folder.isValid() || !writeDropTree(root)) {
        std::fprintf(stderr, "cannot write the tree under %s\n", qPrintable(root));
        return false;
    }
    const int expected = DropFolders * DropFilesPerFolder;
    Bench bench;
    StallProbe probe;
    figure("drop_folder", dropAndWait(bench, root, expected, probe), "s", 3);
    const int items = bench.window->inputList().itemCount();
    figure("drop_items", items, "count", 0);
    figure("drop_stall_max", probe.maxMs(), "ms", 1);
    figure("drop_stall_p99", probe.percentileMs(0.99), "ms", 1);
    figure("drop_settle", drainEvents(), "s", 3);
    return expectMessages("drop", bench.dialogs.messages, {}) &&
           expectItems("the drop", items, expected);
}

// A chain of levels one-letter folders, each holding one file, dropped at its top: the walk
// looks into every level once.
bool benchDeepDrop(int levels) {
    QTemporaryDir folder;
    const QByteArray top = QFile::encodeName(folder.filePath(QStringLiteral("top")));
    int fd = ::mkdir(top.constData(), 0755) == 0 ? ::open(top.constData(), O_RDONLY) : -1;
    for (int level = 0; fd >= 0 && level <= levels; ++level) {
        ::close(::openat(fd, "x", O_WRONLY | O_CREAT, 0644));
        const int next = level < levels && ::mkdirat(fd, "d", 0755) == 0
                             ? ::openat(fd, "d", O_RDONLY | O_DIRECTORY)
                             : -1;
        ::close(fd);
        fd = next;
        if (level < levels && fd < 0) {
            std::fprintf(stderr, "cannot write a tree %d levels deep\n", levels);
            return false;
        }
    }
    Bench bench;
    StallProbe probe;
    const double seconds = dropAndWait(bench, QFile::decodeName(top), levels + 1, probe);
    const QByteArray name = "deep_" + QByteArray::number(levels);
    figure(QByteArray(name + "_walk").constData(), seconds, "s", 3);
    figure(QByteArray(name + "_stall_max").constData(), probe.maxMs(), "ms", 1);
    return expectItems("the deep drop", bench.window->inputList().itemCount(), levels + 1);
}

} // namespace

int main(int argc, char *argv[]) {
    memory::growInLargeSteps(); // as the program does
    memory::shareOneHeap();
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);

    Options options;
    if (!parseOptions(QCoreApplication::arguments(), options)) {
        std::fprintf(stderr,
                     "usage: quorvel_bench [N] [--file-lines M] [--write-list PATH] [--load-find "
                     "PATH [--no-views]]"
                     " [--deep LEVELS] [--big-item MB] [--edit-during-find] [--type-ahead]"
                     " [--copy-paste] [--paste MB] [--cleared-memory]"
                     "  (0 <= N, M <= %lld)\n",
                     MaxItems);
        return 2;
    }
    if (!options.writeList.isEmpty()) {
        if (writeListFile(options.writeList,
                          RandomList(std::uint64_t(options.fileLines), FileSeed)))
            return 0;
        std::fprintf(stderr, "cannot write %s\n", qPrintable(options.writeList));
        return 1;
    }
    if (!options.deepLevels.isEmpty() || options.bigItemMB > 0) {
        bool sound = true;
        for (const long long levels : std::as_const(options.deepLevels))
            sound &= benchDeepDrop(int(levels));
        if (options.bigItemMB > 0)
            sound &= benchBigItemDrag(std::max(options.items, 20LL), options.bigItemMB);
        return sound ? 0 : 1;
    }
    if (options.editDuringFind)
        return benchEditDuringFind(std::max(options.items, 20LL)) ? 0 : 1;
    if (options.typeAhead)
        return benchTypeAhead(std::max(options.items, 2LL)) ? 0 : 1;
    if (options.pasteMB > 0)
        return benchPaste(options.pasteMB) ? 0 : 1;
    if (options.copyPaste)
        return benchCopyPaste(options.items) ? 0 : 1;
    if (options.clearedMemory)
        return benchClearedMemory(options.items) ? 0 : 1;
    if (!options.loadFind.isEmpty())
        return loadAndFind(options.loadFind, -1, !options.noViews) ? 0 : 1;
    resetPeakRss();
    bool sound = benchFind(options);
    figure("find_peak_rss", double(peakRssKiB()) / 1024.0, "MB", 0);
    sound &= benchLoad(options);
    sound &= benchDrop();
    sound &= benchDeepDrop(300);
    sound &= benchDeepDrop(2000);
    figure("peak_rss", double(wholeRunPeakRssKiB()) / 1024.0, "MB", 0);
    return sound ? 0 : 1;
}
