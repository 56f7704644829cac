#pragma once

// What the window benchmark is built from: the seeded random list, instant dialogs, the
// event-loop probes and the options. Included by quorvel_bench.cpp only.
#include "engine/platform/Clipboard.h"
#include "engine/platform/Dialogs.h"
#include "engine/platform/FileSystem.h"
#include "engine/store/TextListModel.h"
#include "engine/store/TextStore.h"
#include "gui/app/Form1.h"
#include "gui/views/ReportView.h"
#include "ProcStatus.h"

#include <QApplication>
#include <QDir>
#include <QDropEvent>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QKeyEvent>
#include <QMimeData>
#include <QMouseEvent>
#include <QPushButton>
#include <QQueue>
#include <QScrollBar>
#include <QTemporaryDir>
#include <QTimer>
#include <QUrl>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <ctime>
#include <memory>
#include <random>
#include <string>
#include <vector>

namespace {

constexpr std::uint32_t ItemSeed = 20210831;
constexpr std::uint32_t FileSeed = 20210901;
constexpr std::uint64_t BatchItems = 65536;
// The pool (0.6 N values) must stay below 26^6 for its texts to be distinct.
constexpr long long MaxItems = 500'000'000;

// Answers at once: every message box with OK (the measured commands only show OK boxes),
// file choices from a queue.
class InstantDialogs : public Dialogs {
public:
    QQueue<QStringList> openAnswers;
    QStringList messages;

    Answer messageBox(const QString &text, const QString &, Buttons, Icon) override {
        messages << text;
        return Answer::Ok;
    }
    QString inputBox(const QString &, const QString &) override { return {}; }
    QStringList openFiles(const QString &, const QString &) override {
        return openAnswers.isEmpty() ? QStringList() : openAnswers.dequeue();
    }
    QString saveFile(const QString &, const QString &) override { return {}; }
};

class NullClipboard : public Clipboard {
public:
    bool clear() override { return true; }
    bool setText(const QByteArray &) override { return true; }
};

std::uint64_t splitMix(std::uint64_t &state) {
    std::uint64_t z = (state += 0x9E3779B97F4A7C15);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EB;
    return z ^ (z >> 31);
}

// A seeded random list: each item drawn uniformly from a pool of 0.6 N distinct texts.
// A value's text is computed from its number, so no pool is kept in memory and filling a
// batch reads nothing at random.
class RandomList {
public:
    RandomList(std::uint64_t items, std::uint32_t seed)
        : items_(items), rng_(seed),
          pick_(0, std::uint32_t(std::max<std::uint64_t>(1, items * 3 / 5) - 1)) {}

    std::uint64_t size() const { return items_; }
    std::uint32_t nextValue() { return pick_(rng_); }

    // 6 to 30 lowercase letters. The first six spell a bijective scramble of the value, so
    // distinct values never give equal texts; the rest come from a hash of it.
    static void appendText(std::uint32_t value, std::string &out) {
        constexpr std::uint64_t Space = 308'915'776; // 26^6
        constexpr std::uint64_t Step = 16'777'619;   // coprime to 26
        std::uint64_t state = value;
        std::uint64_t bits = splitMix(state);
        const int length = 6 + int(bits % 25);
        for (std::uint64_t code = (value * Step + 1) % Space, k = 0; k < 6; ++k, code /= 26)
            out += char('a' + code % 26);
        for (int k = 6, left = 0; k < length; ++k, --left, bits /= 26) {
            if (left == 0) {
                bits = splitMix(state);
                left = 13; // 26^13 < 2^64
            }
            out += char('a' + bits % 26);
        }
    }

    // What the finder must report for the items still to come: floor(copies / 2) per value.
    long long expectedRows() const {
        RandomList rest = *this;
        std::vector<std::uint32_t> copies(std::size_t(pick_.max()) + 1, 0);
        for (std::uint64_t i = 0; i < items_; ++i)
            ++copies[rest.nextValue()];
        long long rows = 0;
        for (std::uint32_t c : copies)
            rows += c / 2;
        return rows;
    }

private:
    std::uint64_t items_;
    std::mt19937 rng_;
    std::uniform_int_distribution<std::uint32_t> pick_;
};

double secondsOf(const QElapsedTimer &clock) {
    return double(clock.nsecsElapsed()) / 1e9;
}

void figure(const char *name, double value, const char *unit, int decimals) {
    std::printf("%s %.*f %s\n", name, decimals, value, unit);
    std::fflush(stdout);
}

// Lets the window catch up (layouts, painting) until the event loop runs idle.
double drainEvents() {
    QElapsedTimer clock;
    clock.start();
    for (int quiet = 0, passes = 0; quiet < 3 && passes < 10000; ++passes) {
        QElapsedTimer pass;
        pass.start();
        QCoreApplication::processEvents(QEventLoop::AllEvents);
        quiet = pass.nsecsElapsed() < 1'000'000 ? quiet + 1 : 0;
    }
    return secondsOf(clock);
}

// The processor time the calling thread has used.
qint64 threadCpuNs() {
    timespec t{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return qint64(t.tv_sec) * 1'000'000'000 + t.tv_nsec;
}

// The gaps between turns of the event loop while a command runs, from the start of the
// command to its return: a zero timer fires once in every turn. busyMaxMs() is the longest
// of them in the interface thread's own processor time: what the command's code held it
// for, without the time other processes of a busy machine had the processor.
class StallProbe {
public:
    StallProbe() {
        timer_.setInterval(0);
        QObject::connect(&timer_, &QTimer::timeout, &timer_, [this] { tick(); });
    }
    void start() {
        gaps_.clear();
        busyMax_ = 0;
        clock_.start();
        last_ = 0;
        lastCpu_ = threadCpuNs();
        timer_.start();
    }
    void stop() {
        timer_.stop();
        tick();
    }
    double maxMs() const { return percentileMs(1.0); }
    double busyMaxMs() const { return double(busyMax_) / 1e6; }
    double percentileMs(double p) const {
        if (gaps_.empty())
            return 0;
        std::vector<qint64> sorted = gaps_;
        std::ranges::sort(sorted);
        const auto rank = std::size_t(std::ceil(p * double(sorted.size())));
        return double(sorted[std::clamp<std::size_t>(rank, 1, sorted.size()) - 1]) / 1e6;
    }

private:
    void tick() {
        const qint64 now = clock_.nsecsElapsed();
        gaps_.push_back(now - last_);
        last_ = now;
        const qint64 cpu = threadCpuNs();
        busyMax_ = std::max(busyMax_, cpu - lastCpu_);
        lastCpu_ = cpu;
    }

    QTimer timer_;
    QElapsedTimer clock_;
    qint64 last_ = 0;
    qint64 lastCpu_ = 0;
    qint64 busyMax_ = 0;
    std::vector<qint64> gaps_;
};

long peakBeforeReset = 0;

// The peak since the last reset.
long peakRssKiB() {
    return statusKiB("VmHWM:");
}

// Starts counting the peak afresh, so each part of the run reports its own.
void resetPeakRss() {
    peakBeforeReset = std::max(peakBeforeReset, peakRssKiB());
#ifdef __linux__
    QFile clear(QStringLiteral("/proc/self/clear_refs"));
    if (clear.open(QIODevice::WriteOnly))
        clear.write("5");
#endif
}

long wholeRunPeakRssKiB() {
    return std::max(peakBeforeReset, peakRssKiB());
}

// A window with instant dialogs around it, shown and settled.
struct Bench {
    InstantDialogs dialogs;
    NullClipboard clipboard;
    FileSystem files;
    QTemporaryDir appFolder; // empty: no support files
    std::unique_ptr<Form1> window;

    Bench() {
        window = std::make_unique<Form1>(dialogs, clipboard, files, appFolder.path());
        window->show();
        drainEvents();
    }
    // Clicks a button and returns how long the command took.
    double click(const char *name, StallProbe &probe) {
        QPushButton *button = window->findChild<QPushButton *>(QString::fromLatin1(name));
        dialogs.messages.clear();
        QElapsedTimer clock;
        probe.start();
        clock.start();
        button->click();
        const double seconds = secondsOf(clock);
        probe.stop();
        return seconds;
    }
};

bool expectMessages(const char *command, const QStringList &shown, const QStringList &expected) {
    if (shown == expected)
        return true;
    std::fprintf(stderr, "%s showed: %s\n", command, qPrintable(shown.join(QStringLiteral(" | "))));
    return false;
}

// Appends the list to the window's input in batches, the way the loaders do; returns the
// time spent building the batches and appending them, not the time generating the texts.
double appendList(TextListModel &input, RandomList &list) {
    std::string texts;
    std::vector<std::size_t> ends;
    double seconds = 0;
    for (std::uint64_t done = 0; done < list.size();) {
        const std::uint64_t count = std::min(BatchItems, list.size() - done);
        texts.clear();
        ends.clear();
        for (std::uint64_t i = 0; i < count; ++i) {
            RandomList::appendText(list.nextValue(), texts);
            ends.push_back(texts.size());
        }
        QElapsedTimer clock;
        clock.start();
        {
            TextStore batch;
            for (std::size_t i = 0, begin = 0; i < ends.size(); begin = ends[i++])
                batch.appendBytes(QByteArrayView(texts.data() + begin, qsizetype(ends[i] - begin)));
            input.appendItems(batch);
        }
        seconds += secondsOf(clock);
        done += count;
    }
    return seconds;
}

// One text a line, each line ended by CR LF.
bool writeListFile(const QString &path, RandomList list) {
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return false;
    std::string chunk;
    for (std::uint64_t i = 0; i < list.size(); ++i) {
        RandomList::appendText(list.nextValue(), chunk);
        chunk += "\r\n";
        if (chunk.size() >= (1u << 20) || i + 1 == list.size()) {
            if (file.write(chunk.data(), qint64(chunk.size())) != qint64(chunk.size()))
                return false;
            chunk.clear();
        }
    }
    return file.flush();
}

struct Options {
    long long items = 1'000'000;
    long long fileLines = 1'000'000;
    QString writeList;
    QString loadFind;
    bool noViews = false;
    QList<long long> deepLevels;
    long long bigItemMB = 0;
    bool editDuringFind = false;
    bool typeAhead = false;
    bool copyPaste = false;
    bool clearedMemory = false;
    long long pasteMB = 0;
};

bool parseCount(const QString &text, long long &value) {
    bool ok = false;
    value = text.toLongLong(&ok);
    return ok && value >= 0 && value <= MaxItems;
}

bool parseOptions(const QStringList &args, Options &options) {
    bool haveItems = false;
    for (qsizetype i = 1; i < args.size(); ++i) {
        if (args[i] == QLatin1String("--file-lines")) {
            if (++i == args.size() || !parseCount(args[i], options.fileLines))
                return false;
        } else if (args[i] == QLatin1String("--write-list")) {
            if (++i == args.size() || args[i].isEmpty())
                return false;
            options.writeList = args[i];
        } else if (args[i] == QLatin1String("--load-find")) {
            if (++i == args.size() || args[i].isEmpty())
                return false;
            options.loadFind = args[i];
        } else if (args[i] == QLatin1String("--paste")) {
            if (++i == args.size() || !parseCount(args[i], options.pasteMB) ||
                options.pasteMB > 1024)
                return false;
        } else if (args[i] == QLatin1String("--copy-paste")) {
            options.copyPaste = true;
        } else if (args[i] == QLatin1String("--cleared-memory")) {
            options.clearedMemory = true;
        } else if (args[i] == QLatin1String("--no-views")) {
            options.noViews = true;
        } else if (args[i] == QLatin1String("--deep")) {
            if (++i == args.size() || !parseCount(args[i], options.deepLevels.emplaceBack()))
                return false;
        } else if (args[i] == QLatin1String("--big-item")) {
            if (++i == args.size() || !parseCount(args[i], options.bigItemMB) ||
                options.bigItemMB > 4096)
                return false;
        } else if (args[i] == QLatin1String("--edit-during-find")) {
            options.editDuringFind = true;
        } else if (args[i] == QLatin1String("--type-ahead")) {
            options.typeAhead = true;
        } else if (!haveItems && parseCount(args[i], options.items)) {
            haveItems = true;
        } else {
            return false;
        }
    }
    return true;
}
} // namespace
