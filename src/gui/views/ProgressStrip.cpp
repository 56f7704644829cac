#include "ProgressStrip.h"

#include "AccessibleEvents.h"
#include "ReportView.h"

#include <QAbstractScrollArea>
#include <QEvent>
#include <QPainter>

#include <algorithm>
#include <utility>

namespace {
// -1 while no total is known.
int percent(qint64 done, qint64 total) {
    return total > 0 ? int(std::clamp(double(done) * 100 / double(total), 0.0, 100.0)) : -1;
}
} // namespace

ProgressStrip::ProgressStrip(ReportView *list) : QWidget(list) {
    setObjectName(list->objectName() + QStringLiteral("Progress"));
    setFocusPolicy(Qt::NoFocus);
    setAttribute(Qt::WA_NoSystemBackground);
    // Clicks, drags, drops and hovering go through to the list below.
    setAttribute(Qt::WA_TransparentForMouseEvents);
    hide();
    list->installEventFilter(this);
    place();
}

void ProgressStrip::setProgress(qint64 done, qint64 total) {
    const qint64 oldDone = std::exchange(done_, done);
    const qint64 oldTotal = std::exchange(total_, total);
    // A reader hears a new value only when its percentage changes.
    if (accessibleEventsHeard() && isVisible() &&
        percent(oldDone, oldTotal) != percent(done, total)) {
        QAccessibleValueChangeEvent event(this, done);
        tellAccessible(event);
    }
    phase_ = (phase_ + 4) % 200;
    update();
}

// The strip takes no mouse, so its words go in the list's own tooltip while it shows.
void ProgressStrip::setDetail(const QString &detail) {
    detail_ = detail;
    QWidget *inner = static_cast<QAbstractScrollArea *>(parentWidget())->viewport();
    if (!listHint_)
        listHint_ = inner->toolTip();
    inner->setToolTip(detail.isEmpty() ? *listHint_ : *listHint_ + QLatin1Char('\n') + detail);
}

void ProgressStrip::setVisible(bool visible) {
    if (!visible)
        detail_.clear();
    if (!visible && listHint_)
        static_cast<QAbstractScrollArea *>(parentWidget())
            ->viewport()
            ->setToolTip(*std::exchange(listHint_, std::nullopt));
    QWidget::setVisible(visible);
}

bool ProgressStrip::eventFilter(QObject *watched, QEvent *event) {
    if (watched == parent() && event->type() == QEvent::Resize)
        place();
    return false;
}

// Inside the list's frame, along its bottom edge.
void ProgressStrip::place() {
    auto *list = static_cast<QAbstractScrollArea *>(parentWidget());
    const int frame = list->frameWidth();
    setGeometry(frame, list->height() - frame - Height, list->width() - 2 * frame, Height);
    raise();
}

void ProgressStrip::paintEvent(QPaintEvent *) {
    QPainter painter(this);
    const QColor bar = palette().color(QPalette::Highlight);
    QColor track = bar;
    track.setAlpha(60);
    painter.fillRect(rect(), track);
    if (total_ > 0) {
        const double share = std::clamp(double(done_) / double(total_), 0.0, 1.0);
        painter.fillRect(QRect(0, 0, qRound(width() * share), height()), bar);
    } else {
        // A quarter-wide segment sweeping across and coming in again from the left.
        const int segment = width() / 4;
        const int left = (width() + segment) * phase_ / 200 - segment;
        painter.fillRect(QRect(left, 0, segment, height()), bar);
    }
}
