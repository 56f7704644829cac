#include "ProgressTracker.h"

#include <algorithm>

class ProgressTracker::Entry : public Progress {
public:
    Entry(ProgressTracker &tracker, ProgressTarget &strip) : tracker_(tracker), strip_(strip) {
        started_.start();
        tracker_.running_.push_back(this);
    }
    ~Entry() override {
        if (total > 0) // where a finished command stands, for whoever looks after it
            strip_.setProgress(std::min(done, total), total);
        strip_.setShown(false);
        auto &running = tracker_.running_;
        running.erase(std::remove(running.begin(), running.end(), this), running.end());
        tracker_.refresh();
    }
    void show() override {
        if (tracker_.running_.back() == this)
            tracker_.refresh();
    }

    ProgressTarget &strip() { return strip_; }
    bool due() const { return started_.hasExpired(DelayMs); }

private:
    ProgressTracker &tracker_;
    ProgressTarget &strip_;
    QElapsedTimer started_;
};

std::unique_ptr<Progress> ProgressTracker::begin(ProgressTarget &target) {
    return std::make_unique<Entry>(*this, target);
}

void ProgressTracker::refresh() {
    if (running_.empty())
        return;
    Entry &top = *running_.back();
    for (Entry *other : running_)
        if (&other->strip() != &top.strip())
            other->strip().setShown(false);
    if (!top.due()) {
        top.strip().setShown(false);
        return;
    }
    ProgressTarget &strip = top.strip();
    // A value never goes back, even when work is counted a second way.
    strip.setProgress(top.total > 0 ? std::min(top.done, top.total) : top.done, top.total);
    strip.setShown(true);
    if (!top.detail.isEmpty())
        strip.setDetail(top.detail);
}
