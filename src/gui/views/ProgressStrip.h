#pragma once

#include "engine/core/Progress.h"

#include <QWidget>

#include <optional>

class ReportView;

// A slim bar over the bottom edge of a list: how far the command that fills or reads the list
// has come. It neither moves nor resizes the list, never takes focus, and leaves the mouse to
// the list.
class ProgressStrip : public QWidget, public ProgressTarget {
    Q_OBJECT
public:
    static constexpr int Height = 5;

    // The list's accessibility, installed with it, covers the strip too.
    explicit ProgressStrip(ReportView *list);

    // total 0: no total known, a segment moves along the strip instead.
    void setProgress(qint64 done, qint64 total) override;
    qint64 done() const { return done_; }
    qint64 total() const { return total_; }
    // What a moving strip tells about the work, shown in the list's tooltip until the strip
    // hides.
    void setDetail(const QString &detail) override;
    const QString &detail() const { return detail_; }
    void setShown(bool shown) override { setVisible(shown); }
    void setVisible(bool visible) override;

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;
    void paintEvent(QPaintEvent *event) override;

private:
    void place();

    qint64 done_ = 0;
    qint64 total_ = 0;
    QString detail_;
    std::optional<QString> listHint_; // the list's own tooltip while the strip shows its detail
    int phase_ = 0;                   // where the moving segment is, advanced on every update
};
