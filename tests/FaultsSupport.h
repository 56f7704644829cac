#pragma once

// What the fault tests share: slow files and folders, long commands, drops.
#include "TestSupport.h"

#include "engine/platform/FolderSystem.h"

#include <QDir>
#include <QMimeData>
#include <QTemporaryDir>
#include <QUrl>

inline QStringList errorReports(const FakeDialogs &dialogs) {
    QStringList reports;
    for (const auto &shown : dialogs.shown)
        if (shown.title == QLatin1String(ErrorReportTitle))
            reports << shown.text.section(QLatin1Char('\r'), 0, 0);
    return reports;
}

// Lines the way the reader splits them: CR, LF and CR LF each end one.
inline qsizetype countLines(const QByteArray &bytes) {
    qsizetype lines = 0;
    for (qsizetype i = 0; i < bytes.size(); ++i) {
        if (bytes[i] == '\r' || bytes[i] == '\n') {
            ++lines;
            if (bytes[i] == '\r' && i + 1 < bytes.size() && bytes[i + 1] == '\n')
                ++i;
        }
    }
    return lines + (!bytes.isEmpty() && !bytes.endsWith('\r') && !bytes.endsWith('\n'));
}

inline QByteArray numberedLines(const char *prefix, int count) {
    QByteArray bytes;
    for (int i = 0; i < count; ++i)
        bytes += prefix + QByteArray::number(i) + "\r\n";
    return bytes;
}

// Reads take a slice each, a little at a time.
inline SlowFiles slowReads() {
    SlowFiles files;
    files.delayMs = TimeSlice::SliceMs + 2;
    files.readSize = 64 * 1024;
    return files;
}

enum class Command { Load, Find, Save, Copy, Drop };

// A folder tree of count folders, each holding files files; returns its path.
inline QString makeTree(const QTemporaryDir &dir, int count, int files) {
    const QString tree = dir.filePath(QStringLiteral("tree"));
    for (int f = 0; f < count; ++f) {
        const QString folder = tree + QStringLiteral("/f%1").arg(f, 4, 10, QLatin1Char('0'));
        QDir().mkpath(folder);
        for (int i = 0; i < files; ++i)
            writeFile(folder + QStringLiteral("/%1.txt").arg(i), {});
    }
    return tree;
}

// The machine's file system, with every folder listing taking a while, so that a walk of a
// small tree spans many turns of the event loop.
class SlowFolders : public FolderSystem {
public:
    QChar separator() const override { return real_->separator(); }
    std::optional<int> attributes(const QString &path) const override {
        return real_->attributes(path);
    }
    bool isRootFolder(const QString &path) const override { return real_->isRootFolder(path); }
    mutable int listings = 0;
    QStringList subFolderNames(const QString &folder) const override {
        ++listings;
        QThread::msleep(2);
        return real_->subFolderNames(folder);
    }
    QStringList fileNames(const QString &folder) const override { return real_->fileNames(folder); }
    bool isOpenableFile(const QString &path) const override { return real_->isOpenableFile(path); }
    void endWalk() const override { real_->endWalk(); }

private:
    std::unique_ptr<FolderSystem> real_ = makeSystemFolderSystem();
};

inline QList<QUrl> urlsOf(const QStringList &paths) {
    QList<QUrl> urls;
    for (const QString &path : paths)
        urls << QUrl::fromLocalFile(path);
    return urls;
}

// Drops the paths on the input list and lets the walk run.
inline void drop(Form1 &w, const QStringList &paths) {
    QMimeData data;
    data.setUrls(urlsOf(paths));
    dragAndDrop(w, &data);
    QCoreApplication::processEvents();
}

// A window with enough work queued for the command to take many turns.
struct LongCommand {
    QTemporaryDir dir;
    SlowFiles files = slowReads();
    Harness h{&files};
    QString listPath = dir.filePath(QStringLiteral("list.txt"));
    QString savePath = dir.filePath(QStringLiteral("saved.txt"));
    QByteArray listBytes = numberedLines("L", 40000);
    QStringList resultsAtStart;
    QString tree;
    SlowFolders folders;

    explicit LongCommand(Command command) {
        if (command == Command::Drop) {
            tree = makeTree(dir, 200, 5);
            h.w().setFolderSystem(folders);
        }
        writeFile(listPath, listBytes);
        writeFile(savePath, "previous\r\n");
        if (command == Command::Find) {
            TextStore items;
            for (int i = 0; i < 1500000; ++i)
                items.append(QStringLiteral("item %1").arg(i % 500000));
            h.w().inputList().appendItems(items);
        }
        if (command == Command::Save || command == Command::Copy) {
            TextStore rows;
            for (int i = 0; i < 600000; ++i)
                rows.append(QStringLiteral("row %1").arg(i));
            h.w().resultsList().appendItems(rows);
            resultsAtStart = itemsOf(h.w().resultsList());
        }
        h.dialogs.openAnswers << QStringList{listPath};
        h.dialogs.saveAnswers << savePath;
        h.dialogs.answers << Dialogs::Answer::Yes;
    }

    void start(Command command) {
        if (command == Command::Drop)
            return drop(h.w(), {tree});
        const char *buttons[] = {"PushButton5", "PushButton4", "PushButton6", "PushButton10"};
        h.button(buttons[int(command)])->click();
    }
};
