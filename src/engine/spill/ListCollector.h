#pragma once

#include "engine/find/DuplicateFinder.h"
#include "engine/results/ResultWriter.h"
#include "SpillFinder.h"

#include <QString>

#include <functional>
#include <limits>
#include <memory>

class QIODevice;

// The lines of a command line's list files, read as "Load Data From File" reads them and
// paired as "Start Finding" pairs them, in a memory budget: held in memory while the search
// fits it, spilled to partition files from the moment it would not.
class ListCollector {
public:
    // read: the bytes read of all files so far, now and then.
    using ReadProgress = std::function<void(qint64 bytes)>;
    ListCollector(qint64 budget, QString folder, ReadProgress read = {});
    ~ListCollector();

    // Refuses, with LineTooLong, any line longer than this many bytes.
    void setLongestLine(qint64 bytes) { longestLine_ = bytes; }

    // Appends the lines of one file, "-" for standard input; pipes and devices are read too,
    // in one pass. Throws Failure when the file cannot be read (the lines read before stay),
    // TemporaryFailure when the temporary folder fails, LineTooLong for a line too long.
    void readFile(const QString &name);

    // Writes the rows of all the lines read to writer, which writes format with lineEnd (it is
    // left to finish them); partitions tells how far a spilled search has come.
    void find(ResultWriter &writer, ResultFormat format, const QByteArray &lineEnd,
              const SpillFinder::Progress &partitions = {});

    // Whether the lines went to partition files.
    bool spilled() const { return spill_ != nullptr; }

private:
    // Before a file's lines: about how many lines and bytes it holds.
    void announce(qsizetype lines, qsizetype bytes);
    void take(const TextStore &lines);
    void startSpill(qint64 need);

    qint64 budget_;
    QString folder_;
    ReadProgress readProgress_;
    TextStore items_;
    std::unique_ptr<SpillFinder> spill_;
    qint64 readBefore_ = 0;
    qint64 longestLine_ = std::numeric_limits<qint64>::max();
};
