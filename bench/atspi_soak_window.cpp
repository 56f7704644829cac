// The window a screen reader questions in bench/atspi_soak.sh: it loads a generated list,
// finds, clears and reloads through its own buttons until the time is up, pausing between
// commands so the questions meet every state of the lists, then prints its count of commands.
//
// usage: atspi_soak_window SECONDS [LINES]      (default 1000000 lines)
// Only a few of the benchmark's helpers are used here.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wunused-function"
#include "BenchSupport.h"
#pragma GCC diagnostic pop

#include <QEventLoop>
#include <QRandomGenerator>

int main(int argc, char *argv[]) {
    QApplication app(argc, argv);
    const QStringList args = QCoreApplication::arguments();
    bool ok = false;
    const long long seconds = args.value(1).toLongLong(&ok);
    long long lines = 1'000'000;
    if (!ok || seconds <= 0 || args.size() > 3 ||
        (args.size() == 3 && !parseCount(args[2], lines))) {
        std::fprintf(stderr, "usage: atspi_soak_window SECONDS [LINES]\n");
        return 2;
    }
    QTemporaryDir work;
    const QString list = work.filePath(QStringLiteral("list.txt"));
    if (!writeListFile(list, RandomList(std::uint64_t(lines), FileSeed)))
        return 1;
    Bench bench;
    StallProbe probe;
    QElapsedTimer clock;
    clock.start();
    long commands = 0;
    int mostItems = 0, mostResults = 0; // so the figures show the lists were filled
    QStringList messages;
    // Load, find, clear both, samples, find, reload, clear in the other order.
    const char *round[] = {"PushButton5", "PushButton4", "PushButton9",
                           "PushButton7", "PushButton2", "PushButton4",
                           "PushButton5", "PushButton7", "PushButton9"};
    while (clock.elapsed() < seconds * 1000) {
        for (const char *name : round) {
            if (qstrcmp(name, "PushButton5") == 0)
                bench.dialogs.openAnswers.enqueue({list});
            bench.click(name, probe);
            ++commands;
            mostItems = std::max(mostItems, bench.window->inputList().itemCount());
            mostResults = std::max(mostResults, bench.window->resultsList().itemCount());
            for (const QString &message : std::as_const(bench.dialogs.messages))
                if (!messages.contains(message))
                    messages << message;
            QEventLoop pause;
            QTimer::singleShot(QRandomGenerator::global()->bounded(500), &pause, &QEventLoop::quit);
            pause.exec();
        }
    }
    std::printf("commands %ld, at most %d items and %d results, messages: %s\n", commands,
                mostItems, mostResults, qPrintable(messages.join(QLatin1String(" | "))));
    return 0;
}
