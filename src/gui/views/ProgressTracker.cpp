#include "ProgressTracker.h"

#include "ProgressStrip.h"

#include <algorithm>

class ProgressTracker::Entry : public Progress {
public:
    Entry(ProgressTracker &tracker, ProgressStrip &strip) : tracker_(tracker), strip_(strip) {
        started_.start();
        tracker_.running_.push_back(this);
    }
    ~Entry() override {
        if (total > 0) // where a finished command stands, for whoever looks after it
            strip_.setProgress(std::min(done, total), total);
        strip_.hide();
        auto &running = tracker_.running_;
        running.erase(std::remove(running.begin(), running.end(), this), running.end());
        tracker_.refresh();
    }
    void show() override {
        if (tracker_.running_.back() == this)
            tracker_.refresh();
    }

    ProgressStrip &strip() { return strip_; }
    bool due() const { return started_.hasExpired(DelayMs); }

private:
    ProgressTracker &tracker_;
    ProgressStrip &strip_;
    QElapsedTimer started_;
};

std::unique_ptr<Progress> ProgressTracker::begin(ProgressStrip &strip) {
    return std::make_unique<Entry>(*this, strip);
}

void ProgressTracker::refresh() {
    if (running_.empty())
        return;
    Entry &top = *running_.back();
    for (Entry *other : running_)
        if (&other->strip() != &top.strip())
            other->strip().hide();
    if (!top.due()) {
        top.strip().hide();
        return;
    }
    ProgressStrip &strip = top.strip();
    // A value never goes back, even when work is counted a second way.
    strip.setProgress(top.total > 0 ? std::min(top.done, top.total) : top.done, top.total);
    strip.show();
    if (!top.detail.isEmpty())
        strip.setDetail(top.detail);
}
