#pragma once

#include "engine/core/Progress.h"

#include <QElapsedTimer>

#include <memory>
#include <vector>

// The progress of the long commands that run, one inside another's turns: the strip follows
// the most recently started one, shows only once it has run for a while, and returns to the
// outer one when it ends.
class ProgressTracker {
public:
    static constexpr int DelayMs = 500;

    // The command's progress, shown on target; ending it (however the command ends) takes
    // the strip away or back to the command it ran inside.
    std::unique_ptr<Progress> begin(ProgressTarget &target);

private:
    class Entry;
    void refresh();

    std::vector<Entry *> running_; // innermost last
};
