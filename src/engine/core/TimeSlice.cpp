#include "TimeSlice.h"

#include "ErrorReport.h"

#include <QCoreApplication>

TimeSlice::TimeSlice(const bool &abortFlag, Progress *progress)
    : abortFlag_(abortFlag), progress_(progress) {
    checkAbort();
    timer_.start();
    handOverTimer_.start();
}

void TimeSlice::yield() {
    checkAbort();
    if (progress_)
        progress_->show();
    QCoreApplication::processEvents(QEventLoop::AllEvents);
    checkAbort();
    timer_.restart();
}

void TimeSlice::checkAbort() const {
    if (abortFlag_)
        throw Aborted{};
}

bool TimeSlice::handOver() {
    if (!handOverTimer_.hasExpired(HandOverMs))
        return false;
    handOverTimer_.restart();
    return true;
}
