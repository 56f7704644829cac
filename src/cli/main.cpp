// quorvel-find: the window's "Load Data From File", "Start Finding" and "Save Results" in
// one command, for scripts and pipelines.
#include "core/ErrorReport.h"
#include "core/Shared.h"
#include "find/DuplicateFinder.h"
#include "list/ListFileReader.h"
#include "results/ResultWriter.h"

#include <QFile>

#include <csignal>
#include <cstdio>
#include <system_error>

namespace {
constexpr int ExitSuccess = 0;
constexpr int ExitUnreadInput = 1;
constexpr int ExitUsage = 2;
constexpr int ExitWriteFailed = 3;

const char Help[] =
    "usage: quorvel-find [--comma] [--lf] [FILE...]\n"
    "\n"
    "Reads every line of each FILE in turn (standard input when there is none or FILE is -)\n"
    "and writes each value that repeats once for every pair of copies, in the order of the\n"
    "earlier copy of each pair. Blank lines never count. Files are read and results written\n"
    "as the Quorvel window reads and saves them.\n"
    "\n"
    "  --comma    all values on one line, each followed by a comma\n"
    "  --lf       end lines with LF instead of CR LF\n"
    "  --help     show this help\n"
    "  --version  show the version\n"
    "\n"
    "Exit status: 0 success; 1 a FILE was missing or could not be read (the others were);\n"
    "2 bad usage; 3 the search failed or the results could not be written.\n";

void complain(const QString &about, const QString &message) {
    std::fprintf(stderr, "quorvel-find: %s: %s\n", qUtf8Printable(about), qUtf8Printable(message));
}

// Appends the lines of one FILE to items, as "Load Data From File" reads a file; pipes and
// devices are read too, in one pass.
void readFile(const QString &name, TextStore &items) {
    QFile file;
    if (name == QLatin1String("-")) {
        if (!file.open(0, QIODevice::ReadOnly, QFileDevice::DontCloseHandle))
            throw Failure(file.errorString());
    } else {
        if (!FileExists(name))
            throw Failure(QStringLiteral("File not found"));
        file.setFileName(name);
        if (!file.open(QIODevice::ReadOnly))
            throw Failure(file.errorString());
    }
    readListLines(
        file, nullptr, [&](const TextStore &lines) { items.append(lines); },
        [&](qsizetype lines, qsizetype bytes) { items.reserveMore(lines, bytes); });
}

int printed(const char *text) {
    std::fputs(text, stdout);
    return std::fflush(stdout) == 0 && !std::ferror(stdout) ? ExitSuccess : ExitWriteFailed;
}
} // namespace

int main(int argc, char *argv[]) {
    bool comma = false;
    bool lf = false;
    bool optionsEnd = false;
    QStringList files;
    for (int i = 1; i < argc; ++i) {
        const QByteArray arg(argv[i]);
        if (optionsEnd || !arg.startsWith('-') || arg == "-") {
            files << QFile::decodeName(arg);
        } else if (arg == "--") {
            optionsEnd = true;
        } else if (arg == "--comma") {
            comma = true;
        } else if (arg == "--lf") {
            lf = true;
        } else if (arg == "--help") {
            return printed(Help);
        } else if (arg == "--version") {
            return printed("quorvel-find " QUORVEL_VERSION "\n");
        } else {
            std::fprintf(stderr,
                         "quorvel-find: unknown option %s\n"
                         "usage: quorvel-find [--comma] [--lf] [FILE...]\n",
                         arg.constData());
            return ExitUsage;
        }
    }
    if (files.isEmpty())
        files << QStringLiteral("-");

#ifdef SIGPIPE
    // A closed pipe is a write error to report, not a silent end.
    std::signal(SIGPIPE, SIG_IGN);
#endif

    int status = ExitSuccess;
    TextStore items;
    for (const QString &name : std::as_const(files)) {
        try {
            readFile(name, items);
        } catch (const Failure &failure) {
            complain(name == QLatin1String("-") ? QStringLiteral("standard input") : name,
                     failure.description());
            status = ExitUnreadInput;
        } catch (const std::exception &e) {
            // Out of memory: no answer can be given, which is not a file left unread.
            complain(name, describeFailure(e));
            return ExitWriteFailed;
        }
    }

    QFile out;
    try {
        if (!out.open(1, QIODevice::WriteOnly | QIODevice::Unbuffered,
                      QFileDevice::DontCloseHandle))
            throw Failure(out.errorString());
        ResultWriter writer(out, comma ? ResultFormat::Comma : ResultFormat::OnePerLine,
                            lf ? "\n" : "\r\n");
        findDuplicates(items, nullptr, [&](const TextStore &rows) { writer.write(rows, nullptr); });
        writer.finish();
    } catch (const std::system_error &e) {
        // Only the search's worker threads raise this: memory ran short, not the output.
        complain(QStringLiteral("cannot start threads"), QString::fromLocal8Bit(e.what()));
        return ExitWriteFailed;
    } catch (const std::exception &e) {
        complain(QStringLiteral("standard output"), describeFailure(e));
        return ExitWriteFailed;
    }
    return status;
}
