#include "HoverPointer.h"

#include <QAbstractScrollArea>
#include <QMouseEvent>
#include <QWidget>

HoverPointer::HoverPointer(PointerOwner &owner, QWidget *window) : QObject(window), owner_(owner) {
    watch(window, PointerOwner::PointerDefault);
}

void HoverPointer::watch(QWidget *control, PointerOwner::MousePointer value) {
    values_.insert(control, value);
    control->setMouseTracking(true);
    control->installEventFilter(this);
    connect(control, &QObject::destroyed, this, [this, control] { values_.remove(control); });
    // A list's or a header's moves arrive at its inner area.
    if (auto *area = qobject_cast<QAbstractScrollArea *>(control))
        watch(area->viewport(), value);
}

bool HoverPointer::eventFilter(QObject *watched, QEvent *event) {
    if (event->type() == QEvent::MouseMove) {
        // A move a child ignored reaches its parent too; only the control under the pointer
        // decides.
        auto *control = static_cast<QWidget *>(watched);
        const QPoint at = static_cast<QMouseEvent *>(event)->position().toPoint();
        const auto value = values_.constFind(watched);
        if (value != values_.cend() && !control->childAt(at))
            owner_.hoverPointer(*value);
    }
    return QObject::eventFilter(watched, event);
}
