#pragma once

#include "MousePointer.h"

#include <QHash>
#include <QObject>

class QWidget;

// Turns the window's pointer into the hand over the command buttons and back to the default
// over the background and the lists, on every mouse move, with or without a button held.
class HoverPointer : public QObject {
    Q_OBJECT
public:
    // Watches the window's background (its own area, not its controls) for the default.
    HoverPointer(PointerOwner &owner, QWidget *window);

    // A move over control (not over a child of it) sets value; for a list or a header, over
    // its inner area too.
    void watch(QWidget *control, PointerOwner::MousePointer value);

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    PointerOwner &owner_;
    QHash<QObject *, PointerOwner::MousePointer> values_;
};
