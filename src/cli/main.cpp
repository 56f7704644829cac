// quorvel-find: the window's "Load Data From File", "Start Finding" and "Save Results" in
// one command, for scripts and pipelines.
#include "engine/core/ErrorReport.h"
#include "engine/core/MemoryLimits.h"
#include "engine/list/ListFileReader.h"
#include "engine/results/ResultWriter.h"
#include "engine/spill/ListCollector.h"
#include "engine/spill/MemoryBudget.h"
#include "engine/spill/SpillFile.h"

#include <QElapsedTimer>
#include <QFile>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <optional>
#include <system_error>
#include <variant>

#ifdef Q_OS_WIN
#include "WindowsConsole.h"
#else
#include <fcntl.h>
#include <sys/resource.h>
#include <unistd.h>
#endif

namespace {
constexpr int ExitSuccess = 0;
constexpr int ExitUnreadInput = 1;
constexpr int ExitUsage = 2;
constexpr int ExitWriteFailed = 3;

const char Usage[] =
    "usage: quorvel-find [--comma] [--lf] [--memory SIZE] [--temp-dir DIR] [--quiet] [FILE...]\n";

#ifdef Q_OS_WIN
#define TempDirHelp                                                                                \
    "             where the temporary files go (default %TEMP%); the system deletes them\n"        \
    "             as they close, so none is ever left behind\n"
#else
#define TempDirHelp                                                                                \
    "             where the temporary files go (default $TMPDIR, else /tmp); they have no\n"       \
    "             name, so none is ever left behind\n"
#endif

// What --help shows below Usage.
const char Help[] =
    "\n"
    "Reads every line of each FILE in turn (standard input when there is none or FILE is -)\n"
    "and writes each value that repeats once for every pair of copies, in the order of the\n"
    "earlier copy of each pair. Blank lines never count. Files are read and results written\n"
    "as the Quorvel window reads and saves them.\n"
    "\n"
    "  --comma    all values on one line, each followed by a comma\n"
    "  --lf       end lines with LF instead of CR LF\n"
    "  --memory SIZE\n"
    "             the memory to work in: bytes, or a number followed by K, M, G or T\n"
    "             (at least 64K); by default half of what the machine, the address-space\n"
    "             limit and the control group allow. A list that needs more is split by\n"
    "             hash into temporary files; the output stays the same, byte for byte.\n"
    "             A line longer than a sixteenth of a SIZE given here is refused\n"
    "  --temp-dir DIR\n" TempDirHelp
    "  --quiet    no progress on standard error (shown only on a terminal, after a second)\n"
    "  --help     show this help\n"
    "  --version  show the version\n"
    "\n"
    "Exit status: 0 success; 1 a FILE was missing or could not be read (the others were);\n"
    "2 bad usage; 3 the search failed (the temporary folder full or unwritable included) or\n"
    "the results could not be written.\n";

void complain(const QString &about, const QString &message) {
    std::fprintf(stderr, "quorvel-find: %s: %s\n", qUtf8Printable(about), qUtf8Printable(message));
}

// Progress on standard error, only where someone watches it and only once the run has taken
// a second. One line, rewritten in place, wiped at the end.
class StatusLine {
public:
    explicit StatusLine(bool quiet) : shown_(!quiet && isatty(2)) { started_.start(); }
    ~StatusLine() {
        if (written_)
            std::fputs("\r\033[K", stderr);
    }
    // A new kind of line shows at once: the user sees reading end and pairing begin.
    void show(const char *format, qint64 a, qint64 b = 0) {
        if (!shown_ || started_.elapsed() < 1000 ||
            (written_ && format == lastFormat_ && !last_.hasExpired(200)))
            return;
        lastFormat_ = format;
        std::fputs("\r\033[Kquorvel-find: ", stderr);
        std::fprintf(stderr, format, a, b);
        std::fflush(stderr);
        written_ = true;
        last_.start();
    }
    void read(qint64 bytes) { show("%lld MB read", (bytes + (1 << 19)) >> 20); }

private:
    bool shown_;
    bool written_ = false;
    const char *lastFormat_ = nullptr;
    QElapsedTimer started_, last_;
};

int printed(const QByteArray &text) {
    std::fwrite(text.constData(), 1, size_t(text.size()), stdout);
    return std::fflush(stdout) == 0 && !std::ferror(stdout) ? ExitSuccess : ExitWriteFailed;
}

int usageError(const char *format, const char *arg) {
    std::fprintf(stderr, "quorvel-find: ");
    std::fprintf(stderr, format, arg);
    std::fprintf(stderr, "\n%s", Usage);
    return ExitUsage;
}

// A file's name as given: Windows' arguments are UTF-8 here (useUtf8Arguments).
QString argumentText(const QByteArray &arg) {
#ifdef Q_OS_WIN
    return QString::fromUtf8(arg);
#else
    return QFile::decodeName(arg);
#endif
}

#ifndef Q_OS_WIN
// A closed standard descriptor would go to the next file opened, a spill file say, and the
// results or messages meant for it would be written into that file. /dev/null, opened the
// other way round, holds the place and fails each read or write as the closed one did.
void holdClosedStandardDescriptors() {
    for (int fd = 0; fd <= 2; ++fd) {
        if (fcntl(fd, F_GETFD) >= 0 || errno != EBADF)
            continue;
        const int held = ::open("/dev/null", fd == 0 ? O_WRONLY : O_RDONLY);
        if (held >= 0 && held != fd) {
            dup2(held, fd);
            ::close(held);
        }
    }
}

// Spill files, one per partition, are held open together.
void raiseOpenFileLimit() {
    rlimit files{};
    if (getrlimit(RLIMIT_NOFILE, &files) == 0 && files.rlim_cur < files.rlim_max) {
        files.rlim_cur = files.rlim_max;
        setrlimit(RLIMIT_NOFILE, &files);
    }
}
#endif

struct Options {
    bool comma = false;
    bool lf = false;
    bool quiet = false;
    std::optional<qint64> memory; // as the user named it
    QString folder = defaultTemporaryFolder();
    QStringList files;
};

// The options of a command line; or, for one that asks for help or the version (shown here)
// or is wrong (told here), the exit status.
std::variant<Options, int> parseArguments(int argc, char *argv[]) {
    Options options;
    bool optionsEnd = false;
    for (int i = 1; i < argc; ++i) {
        const QByteArray arg(argv[i]);
        // --memory SIZE or --memory=SIZE, and so for --temp-dir.
        auto value = [&](const char *option) -> std::optional<QByteArray> {
            if (arg == option)
                return i + 1 < argc ? QByteArray(argv[++i]) : QByteArray();
            if (arg.startsWith(QByteArray(option) + '='))
                return arg.mid(qsizetype(std::strlen(option)) + 1);
            return std::nullopt;
        };
        if (optionsEnd || !arg.startsWith('-') || arg == "-") {
            options.files << argumentText(arg);
        } else if (arg == "--") {
            optionsEnd = true;
        } else if (arg == "--comma") {
            options.comma = true;
        } else if (arg == "--lf") {
            options.lf = true;
        } else if (arg == "--quiet") {
            options.quiet = true;
        } else if (const auto size = value("--memory")) {
            const MemoryBudgetText budget = parseMemoryBudget(*size);
            if (budget.problem)
                return usageError(budget.problem, size->constData());
            options.memory = budget.bytes;
        } else if (const auto dir = value("--temp-dir")) {
            if (dir->isEmpty())
                return usageError("--temp-dir needs a folder%s", "");
            options.folder = argumentText(*dir);
        } else if (arg == "--help") {
            return printed(QByteArray(Usage) + Help);
        } else if (arg == "--version") {
            return printed("quorvel-find " QUORVEL_VERSION "\n");
        } else {
            return usageError("unknown option %s", arg.constData());
        }
    }
    if (options.files.isEmpty())
        options.files << QStringLiteral("-");
    return options;
}

// Reads the files in turn into list: the status so far, or ExitWriteFailed where no answer
// can be given.
int readFiles(ListCollector &list, const Options &options) {
    int status = ExitSuccess;
    for (const QString &name : options.files) {
        const QString about = name == QLatin1String("-") ? QStringLiteral("standard input") : name;
        try {
            list.readFile(name);
        } catch (const TemporaryFailure &failure) {
            complain(options.folder, failure.description());
            return ExitWriteFailed;
        } catch (const LineTooLong &tooLong) {
            const qint64 memory = *options.memory;
            complain(about, QStringLiteral("line %1 is longer than --memory %2 allows (%3 a line)")
                                .arg(tooLong.line)
                                .arg(QLatin1String(memoryBudgetText(memory)),
                                     QLatin1String(memoryBudgetText(longestLineFor(memory)))));
            return ExitWriteFailed;
        } catch (const Failure &failure) {
            complain(about, failure.description());
            status = ExitUnreadInput;
        } catch (const std::exception &e) {
            // Out of memory: no answer can be given, which is not a file left unread.
            complain(name, describeFailure(e));
            return ExitWriteFailed;
        }
    }
    return status;
}

// Writes the rows of the lines read to standard output: whether it could.
bool writeRows(ListCollector &list, const Options &options, StatusLine &statusLine) {
    QFile out;
    try {
        if (!out.open(1, QIODevice::WriteOnly | QIODevice::Unbuffered,
                      QFileDevice::DontCloseHandle))
            throw Failure(out.errorString());
        const ResultFormat format = options.comma ? ResultFormat::Comma : ResultFormat::OnePerLine;
        const QByteArray lineEnd = options.lf ? "\n" : "\r\n";
        ResultWriter writer(out, format, lineEnd);
        list.find(writer, format, lineEnd, [&](qsizetype done, qsizetype total) {
            statusLine.show("partition %lld of %lld", std::min(done + 1, total), total);
        });
        writer.finish();
        return true;
    } catch (const TemporaryFailure &failure) {
        complain(options.folder, failure.description());
    } catch (const std::system_error &e) {
        // Only the search's worker threads raise this: memory ran short, not the output.
        complain(QStringLiteral("cannot start threads"), QString::fromLocal8Bit(e.what()));
    } catch (const std::exception &e) {
        complain(QStringLiteral("standard output"), describeFailure(e));
    }
    return false;
}
} // namespace

int main(int argc, char *argv[]) {
#ifdef Q_OS_WIN
    useUtf8Arguments(argc, argv);
#endif
    holdClosedStandardDescriptors();
    memory::growInLargeSteps();
    const auto parsed = parseArguments(argc, argv);
    if (const int *status = std::get_if<int>(&parsed))
        return *status;
    const Options &options = std::get<Options>(parsed);

#ifdef SIGPIPE
    // A closed pipe is a write error to report, not a silent end.
    std::signal(SIGPIPE, SIG_IGN);
#endif
    raiseOpenFileLimit();

    StatusLine statusLine(options.quiet);
    ListCollector list(options.memory ? *options.memory : defaultMemoryBudget(), options.folder,
                       [&](qint64 bytes) { statusLine.read(bytes); });
    // Only a budget the user names is kept to whatever the lines: the default one is not
    // worth refusing a list the machine can hold.
    if (options.memory)
        list.setLongestLine(longestLineFor(*options.memory));
    const int status = readFiles(list, options);
    if (status == ExitWriteFailed)
        return status;
    return writeRows(list, options, statusLine) ? status : ExitWriteFailed;
}
