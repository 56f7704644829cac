#pragma once

#include <QAccessible>

// How the views tell assistive technology of a change: as Qt's own widgets do, through
// QAccessible::updateAccessibility, which hands the event to the platform's bridge while a
// reader listens.

// Whether anyone hears the events; when nobody does, the views make none.
bool accessibleEventsHeard();
void tellAccessible(QAccessibleEvent &event);

// Where the events go instead of Qt's bridge, heard even with no reader; null restores Qt's way.
using AccessibleEventSink = void (*)(QAccessibleEvent *event);
void setAccessibleEventSink(AccessibleEventSink sink);
