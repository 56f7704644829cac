#pragma once

#include <QElapsedTimer>

// Gives the event loop a turn about every 10 ms during a long command, so the window stays
// responsive without paying for event processing on every item.
class TimeSlice {
public:
    static constexpr int SliceMs = 10;

    // abortFlag is set when the window closes; a yield then throws Aborted.
    explicit TimeSlice(const bool &abortFlag);

    // True when the slice is used up; cheap enough to ask every few hundred items.
    bool due() const { return timer_.hasExpired(SliceMs); }

    // Lets pending events run, then starts a new slice.
    void yield();

    // Whether to hand what a command produced so far to a list before this turn: at most every
    // HandOverMs, since a list view pays for each insertion with a pass over all its rows.
    // Restarts the wait when it answers yes.
    static constexpr int HandOverMs = 25;
    bool handOver();

    // Throws Aborted when the window has been closed.
    void checkAbort() const;

private:
    const bool &abortFlag_;
    QElapsedTimer timer_;
    QElapsedTimer handOverTimer_;
};
