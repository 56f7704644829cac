#pragma once

#include <QString>

#include <exception>
#include <functional>
#include <utility>

// A failure of one step of a command. Carries the text the user is shown.
class Failure : public std::exception {
public:
    explicit Failure(QString description)
        : description_(std::move(description)), what_(description_.toUtf8()) {}
    const QString &description() const { return description_; }
    const char *what() const noexcept override { return what_.constData(); }

private:
    QString description_;
    QByteArray what_;
};

// Thrown out of a time slice when the window has been closed, so that every command,
// however deeply nested in event processing, unwinds at once. Not a Failure on purpose:
// traps let it pass.
struct Aborted {};

// The labels that name the failing procedure in the error report.
namespace ErrorLocation {
inline constexpr char FormLoad[] = "in Quorvel2021/08/31.Form1.Form_Load ";
inline constexpr char PushButton1Click[] = "in Quorvel2021/08/31.Form1.PushButton1_Click ";
inline constexpr char PushButton2Click[] = "in Quorvel2021/08/31.Form1.PushButton2_Click ";
inline constexpr char PushButton4Click[] = "in Quorvel2021/08/31.Form1.PushButton4_Click ";
inline constexpr char PushButton5Click[] = "in Quorvel2021/08/31.Form1.PushButton5_Click ";
inline constexpr char PushButton6Click[] = "in Quorvel2021/08/31.Form1.PushButton6_Click ";
inline constexpr char PushButton7Click[] = "in Quorvel2021/08/31.Form1.PushButton7_Click ";
inline constexpr char PushButton9Click[] = "in Quorvel2021/08/31.Form1.PushButton9_Click ";
inline constexpr char PushButton10Click[] = "in Quorvel2021/08/31.Form1.PushButton10_Click ";
inline constexpr char PushButton11Click[] = "in Quorvel2021/08/31.Form1.PushButton11_Click ";
inline constexpr char PushButton12Click[] = "in Quorvel2021/08/31.Form1.PushButton12_Click ";
inline constexpr char ListView1OLEDragDrop[] = "in Quorvel2021/08/31.Form1.ListView1_OLEDragDrop ";
inline constexpr char GetSubDirectories2016[] =
    "in BrannocTitle2021/08/31.AddFolder.GetSubDirectories2016 ";
} // namespace ErrorLocation

inline constexpr char ErrorReportTitle[] = "Application Error";
inline constexpr char SupportAddress[] = "support@quorvel.example";

// The text of the error report, exactly as shown (CR LF after the description, two bare CRs
// before the request line).
QString errorReportText(const QString &location, const QString &description, int step);

// The user-facing description of whatever a step threw.
QString describeFailure(const std::exception &e);

// The error trap of one command: each numbered step runs on its own; a failure is reported
// and the command goes on with the next step.
class Trap {
public:
    using Reporter = std::function<void(const QString &text)>;
    Trap(QString location, Reporter reporter)
        : location_(std::move(location)), reporter_(std::move(reporter)) {}

    // Runs one step. Returns false when it failed (and was reported).
    template <class F> bool step(int number, F &&f) {
        try {
            f();
            return true;
        } catch (const std::exception &e) {
            report(number, describeFailure(e));
        }
        return false;
    }

    // A step that is the test of a branch: a failed test enters the branch.
    template <class F> bool test(int number, F &&f) {
        bool result = true;
        step(number, [&] { result = f(); });
        return result;
    }

    void report(int number, const QString &description) const {
        reporter_(errorReportText(location_, description, number));
    }

private:
    QString location_;
    Reporter reporter_;
};
