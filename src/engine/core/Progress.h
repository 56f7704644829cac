#pragma once

#include <QString>

// How far a long command has come. The command's work adds to done as it goes; show() runs
// on every turn of the event loop the work gives, never per item.
class Progress {
public:
    virtual ~Progress() = default;

    qint64 total = 0; // 0 while the total is not known
    qint64 base = 0;  // what the command's earlier steps did
    qint64 done = 0;
    QString detail; // what a moving strip tells about work without a total

    virtual void show() = 0;
};

// Where a long command's progress shows (a strip along the list it fills or reads); the window
// provides it, so commands name no widget.
class ProgressTarget {
public:
    // total 0: no total known.
    virtual void setProgress(qint64 done, qint64 total) = 0;
    // What work without a total tells about itself.
    virtual void setDetail(const QString &detail) = 0;
    virtual void setShown(bool shown) = 0;

protected:
    ~ProgressTarget() = default;
};
