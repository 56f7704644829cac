// quorvel-find: the window's "Load Data From File", "Start Finding" and "Save Results" in
// one command, for scripts and pipelines.
#include "core/ErrorReport.h"
#include "core/Shared.h"
#include "find/DuplicateFinder.h"
#include "find/MemoryBudget.h"
#include "find/SpillFile.h"
#include "find/SpillFinder.h"
#include "list/ListFileReader.h"
#include "results/ResultWriter.h"

#include <QBuffer>
#include <QElapsedTimer>
#include <QFile>

#include <csignal>
#include <cstdio>
#include <cstring>
#include <limits>
#include <optional>
#include <system_error>

#include <sys/resource.h>
#include <unistd.h>

namespace {
constexpr int ExitSuccess = 0;
constexpr int ExitUnreadInput = 1;
constexpr int ExitUsage = 2;
constexpr int ExitWriteFailed = 3;

const char Usage[] =
    "usage: quorvel-find [--comma] [--lf] [--memory SIZE] [--temp-dir DIR] [--quiet] [FILE...]\n";

const char Help[] =
    "usage: quorvel-find [--comma] [--lf] [--memory SIZE] [--temp-dir DIR] [--quiet] [FILE...]\n"
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
    "             hash into temporary files; the output stays the same, byte for byte\n"
    "  --temp-dir DIR\n"
    "             where the temporary files go (default $TMPDIR, else /tmp); they have no\n"
    "             name, so none is ever left behind\n"
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
    void show(const char *format, qint64 a, qint64 b = 0) {
        if (!shown_ || started_.elapsed() < 1000 || (written_ && !last_.hasExpired(200)))
            return;
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
    QElapsedTimer started_, last_;
};

// The lines of all FILEs: held in memory while the search fits the budget, spilled to
// partition files from the moment it would not.
class Collector {
public:
    Collector(qint64 budget, QString folder, StatusLine &status)
        : budget_(budget), folder_(std::move(folder)), status_(status) {}

    const QString &folder() const { return folder_; }
    SpillFinder *spill() { return spill_.get(); }
    const TextStore &items() const { return items_; }
    // What the budget leaves for a pipe's bytes held until it ends.
    qint64 roomLeft() const {
        return spill_ ? 0
                      : std::max<qint64>(
                            0, budget_ - inMemoryNeed(items_.size(), qint64(items_.textBytes())));
    }
    void readSoFar(qint64 bytes) { status_.read(readBefore_ + bytes); }
    void fileDone(qint64 bytes) { readBefore_ += bytes; }

    void announce(qsizetype lines, qsizetype bytes) {
        if (spill_)
            return;
        const qint64 need = inMemoryNeed(items_.size() + lines, qint64(items_.textBytes()) + bytes);
        if (need > budget_)
            startSpill(need);
        else
            items_.reserveMore(lines, bytes);
    }
    void take(const TextStore &lines) {
        if (!spill_) {
            // The finder counts positions in 31 bits: a longer list is spilled too.
            const qint64 items = items_.size() + lines.size();
            const qint64 need = inMemoryNeed(items, qint64(items_.textBytes() + lines.textBytes()));
            if (need > budget_ || items >= std::numeric_limits<std::int32_t>::max())
                startSpill(need);
        }
        if (spill_)
            spill_->add(lines);
        else
            items_.append(lines);
    }

private:
    void startSpill(qint64 need) {
        spill_ = std::make_unique<SpillFinder>(folder_, budget_, need);
        spill_->add(items_);
        items_ = TextStore();
    }

    qint64 budget_;
    QString folder_;
    StatusLine &status_;
    TextStore items_;
    std::unique_ptr<SpillFinder> spill_;
    qint64 readBefore_ = 0;
};

// A pipe cannot be read twice, and the reader sees all of it before it decodes a line (to
// tell UTF-8 from Windows-1252): what the budget cannot hold waits in a temporary file.
struct Spooled {
    std::unique_ptr<TemporaryFile> file;
    std::unique_ptr<QIODevice> device;
    std::optional<Failure> failure; // read after the bytes before it
};
Spooled spool(QIODevice &pipe, Collector &list) {
    Spooled result;
    QByteArray held;
    const qint64 room = list.roomLeft() / 2;
    constexpr qint64 Block = 1 << 20;
    qint64 total = 0;
    for (;;) {
        const qsizetype at = held.size();
        if (held.capacity() < at + Block)
            held.reserve(std::max(held.capacity() * 2, at + Block));
        held.resize(at + Block);
        const qint64 got = pipe.read(held.data() + at, Block);
        held.resize(at + std::max<qint64>(got, 0));
        if (got < 0)
            result.failure = Failure(pipe.errorString());
        if (got <= 0)
            break;
        total += got;
        list.readSoFar(total);
        if (held.size() > room) {
            if (!result.file)
                result.file = std::make_unique<TemporaryFile>(list.folder());
            result.file->append(held);
            held.truncate(0);
        }
    }
    if (!result.file) {
        auto buffer = std::make_unique<QBuffer>();
        buffer->setData(held);
        held = QByteArray();
        buffer->open(QIODevice::ReadOnly);
        result.device = std::move(buffer);
        return result;
    }
    result.file->append(held);
    held = QByteArray();
    auto file = std::make_unique<QFile>();
    if (::lseek(result.file->handle(), 0, SEEK_SET) != 0 ||
        !file->open(result.file->handle(), QIODevice::ReadOnly, QFileDevice::DontCloseHandle))
        throw TemporaryFailure(file->errorString());
    result.device = std::move(file);
    return result;
}

// Appends the lines of one FILE to the list, as "Load Data From File" reads a file; pipes
// and devices are read too, in one pass.
void readFile(const QString &name, Collector &list) {
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
    Spooled spooled;
    QIODevice *device = &file;
    if (file.isSequential()) {
        spooled = spool(file, list);
        device = spooled.device.get();
    }
    readListLines(
        *device, nullptr,
        [&](const TextStore &lines) {
            list.take(lines);
            if (!spooled.device)
                list.readSoFar(device->pos());
        },
        [&](qsizetype lines, qsizetype bytes) { list.announce(lines, bytes); });
    list.fileDone(spooled.device ? 0 : device->pos());
    if (spooled.failure)
        throw *spooled.failure;
}

int printed(const char *text) {
    std::fputs(text, stdout);
    return std::fflush(stdout) == 0 && !std::ferror(stdout) ? ExitSuccess : ExitWriteFailed;
}

int usageError(const char *format, const char *arg) {
    std::fprintf(stderr, "quorvel-find: ");
    std::fprintf(stderr, format, arg);
    std::fprintf(stderr, "\n%s", Usage);
    return ExitUsage;
}

// Spill files, one per partition, are held open together.
void raiseOpenFileLimit() {
    rlimit files{};
    if (getrlimit(RLIMIT_NOFILE, &files) == 0 && files.rlim_cur < files.rlim_max) {
        files.rlim_cur = files.rlim_max;
        setrlimit(RLIMIT_NOFILE, &files);
    }
}
} // namespace

int main(int argc, char *argv[]) {
    bool comma = false;
    bool lf = false;
    bool quiet = false;
    bool optionsEnd = false;
    std::optional<qint64> memory;
    QString folder = defaultTemporaryFolder();
    QStringList files;
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
            files << QFile::decodeName(arg);
        } else if (arg == "--") {
            optionsEnd = true;
        } else if (arg == "--comma") {
            comma = true;
        } else if (arg == "--lf") {
            lf = true;
        } else if (arg == "--quiet") {
            quiet = true;
        } else if (const auto size = value("--memory")) {
            const MemoryBudgetText budget = parseMemoryBudget(*size);
            if (budget.problem)
                return usageError(budget.problem, size->constData());
            memory = budget.bytes;
        } else if (const auto dir = value("--temp-dir")) {
            if (dir->isEmpty())
                return usageError("--temp-dir needs a folder%s", "");
            folder = QFile::decodeName(*dir);
        } else if (arg == "--help") {
            return printed(Help);
        } else if (arg == "--version") {
            return printed("quorvel-find " QUORVEL_VERSION "\n");
        } else {
            return usageError("unknown option %s", arg.constData());
        }
    }
    if (files.isEmpty())
        files << QStringLiteral("-");

#ifdef SIGPIPE
    // A closed pipe is a write error to report, not a silent end.
    std::signal(SIGPIPE, SIG_IGN);
#endif
    raiseOpenFileLimit();

    int status = ExitSuccess;
    StatusLine statusLine(quiet);
    Collector list(memory ? *memory : defaultMemoryBudget(), folder, statusLine);
    for (const QString &name : std::as_const(files)) {
        try {
            readFile(name, list);
        } catch (const TemporaryFailure &failure) {
            complain(folder, failure.description());
            return ExitWriteFailed;
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
        const RowSink sink = [&](const TextStore &rows) { writer.write(rows, nullptr); };
        if (list.spill())
            list.spill()->finish(sink, [&](qsizetype done, qsizetype total) {
                statusLine.show("partition %lld of %lld", done + 1 > total ? total : done + 1,
                                total);
            });
        else
            findDuplicates(list.items(), nullptr, sink);
        writer.finish();
    } catch (const TemporaryFailure &failure) {
        complain(folder, failure.description());
        return ExitWriteFailed;
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
