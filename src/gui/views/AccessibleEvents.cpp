#include "AccessibleEvents.h"

namespace {
AccessibleEventSink eventSink = nullptr;
} // namespace

bool accessibleEventsHeard() {
    return eventSink || QAccessible::isActive();
}

void tellAccessible(QAccessibleEvent &event) {
    if (eventSink)
        eventSink(&event);
    else
        QAccessible::updateAccessibility(&event);
}

void setAccessibleEventSink(AccessibleEventSink sink) {
    eventSink = sink;
}
