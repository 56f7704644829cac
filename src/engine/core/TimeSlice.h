#pragma once

#include "Progress.h"

#include <QElapsedTimer>

// Gives the event loop a turn about every 10 ms during a long command, so the window stays
// responsive without paying for event processing on every item.
class TimeSlice {
public:
    static constexpr int SliceMs = 10;

    // abortFlag is set when the window closes; a yield then throws Aborted. progress, where
    // given, is shown on every turn.
    explicit TimeSlice(const bool &abortFlag, Progress *progress = nullptr);

    // The command's progress, or null.
    Progress *progress() const { return progress_; }
    // How much of its work the running step has done, counted on top of what earlier steps
    // of the command did (the progress's base). For just before a turn, not per item.
    void setStepDone(qint64 done) {
        if (progress_)
            progress_->done = progress_->base + done;
    }

    // True when the slice is used up; cheap enough to ask every few hundred items.
    bool due() const { return timer_.hasExpired(SliceMs); }

    // For a caller that only waits for other threads: its turns cost no work, so it takes
    // them twice as often, and a late wake-up still comes in time.
    bool idleDue() const { return timer_.hasExpired(SliceMs / 2); }

    // Lets pending events run, then starts a new slice.
    void yield();
    // A turn, once the slice is used up, telling how far the step has come.
    void turnIfDue(qint64 done) {
        if (due()) {
            setStepDone(done);
            yield();
        }
    }

    // Whether to hand what a command produced so far to a list before this turn: at most every
    // HandOverMs, so rows built by other threads arrive in few batches. Restarts the wait when
    // it answers yes.
    static constexpr int HandOverMs = 25;
    bool handOver();

    // Throws Aborted when the window has been closed.
    void checkAbort() const;

private:
    const bool &abortFlag_;
    Progress *progress_;
    QElapsedTimer timer_;
    QElapsedTimer handOverTimer_;
};
