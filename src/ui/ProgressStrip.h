#pragma once

#include <QWidget>

class QAbstractScrollArea;

// A slim bar over the bottom edge of a list: how far the command that fills or reads the list
// has come. It neither moves nor resizes the list, never takes focus, and leaves the rest of
// the list to the mouse.
class ProgressStrip : public QWidget {
    Q_OBJECT
public:
    static constexpr int Height = 5;

    explicit ProgressStrip(QAbstractScrollArea *list);

    // total 0: no total known, a segment moves along the strip instead.
    void setProgress(qint64 done, qint64 total);
    qint64 done() const { return done_; }
    qint64 total() const { return total_; }

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;
    void paintEvent(QPaintEvent *event) override;

private:
    void place();

    qint64 done_ = 0;
    qint64 total_ = 0;
    int phase_ = 0; // where the moving segment is, advanced on every update
};
