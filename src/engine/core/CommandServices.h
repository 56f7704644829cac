#pragma once

#include "ErrorReport.h"
#include "MemoryLimits.h"
#include "Progress.h"

#include <QString>

#include <memory>

// What the commands of every subsystem share, provided by the window: the error trap and its
// report, message boxes, the hourglass, the one open file, the closing flag and where progress
// shows. Command objects hold a reference to it and nothing of the window itself.
class CommandServices {
public:
    // Runs a command body under an error trap; a closing window unwinds it quietly.
    template <class Body> void runCommand(const char *location, Body &&body);
    virtual void showErrorReport(const QString &text) = 0;
    // An informational box: OK, no icon, the ApplicationTitle.
    virtual void message(const QString &text) = 0;
    virtual const QString &applicationTitle() const = 0;

    // The hourglass of a load, search or save.
    virtual bool busyPointer() const = 0;
    // Long commands may run inside one another's event-loop turns; the hourglass stays until
    // the last of them ends.
    virtual void showBusyPointer() = 0;
    virtual void endBusyPointer() = 0;

    // The command's progress, shown on target until the returned object ends.
    virtual std::unique_ptr<Progress> beginProgress(ProgressTarget &target) = 0;

    // Claims the one file handle for as long as the returned guard lives; throws Failure
    // while another command holds it.
    std::shared_ptr<void> claimListFile();

    // Set when the window closes; long commands then unwind at their next turn.
    const bool &closing() const { return closing_; }

protected:
    ~CommandServices() = default;
    void setClosing() { closing_ = true; }

private:
    bool closing_ = false;
    // One list or result file is open at a time, so the lines of two files never interleave.
    bool listFileOpen_ = false;
};

template <class Body> void CommandServices::runCommand(const char *location, Body &&body) {
    // What a cleared list, a finished search or a refused command freed is room again, given
    // back once no command runs.
    struct HeldBack {
        HeldBack() { memory::holdBack(); }
        ~HeldBack() { memory::giveBack(); }
    } heldBack;
    // The trap and its report allocate too: a failure of theirs is reported once more with
    // what memory is left, and never escapes into the event loop.
    try {
        Trap trap(QString::fromLatin1(location),
                  [this](const QString &text) { showErrorReport(text); });
        try {
            body(trap);
        } catch (const Aborted &) {
            // The window closed while the command was running.
        } catch (const std::exception &e) {
            trap.report(0, describeFailure(e));
        }
    } catch (const std::exception &e) {
        try {
            showErrorReport(errorReportText(QString::fromLatin1(location), describeFailure(e), 0));
        } catch (const std::exception &) {
        }
    }
}
