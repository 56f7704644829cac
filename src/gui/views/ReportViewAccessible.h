#pragma once

#include <QItemSelection>
#include <QList>

class ProgressStrip;
class QAccessibleEvent;
class ReportView;

// What assistive technology sees of the lists: each view is a list named by its header's
// title, its rows are list items made only when a reader asks for one (a few are kept), and a
// showing progress strip is a progress bar after the last row.

// Puts the interfaces in place; the views and strips call it, later calls do nothing.
void installReportViewAccessibility();

// Where the events below go: Qt passes them on to the platform's bridge while a reader
// listens, and drops them otherwise. Null restores that.
using AccessibleEventSink = void (*)(QAccessibleEvent *event);
void setAccessibleEventSink(AccessibleEventSink sink);

// Tells a reader of the view's current row while the view has focus; rows are told after the
// change under way, so after the list itself when it gains focus.
void announceCurrentRow(ReportView *view);
void announceSelection(ReportView *view, const QItemSelection &selected,
                       const QItemSelection &deselected);
// Ticked or cleared check boxes in these rows (only check boxes change in a checkable row).
void announceChecks(ReportView *view, int firstRow, int lastRow);
// A new value of the strip, told only when its percentage changes.
void announceProgress(ProgressStrip *strip, qint64 oldDone, qint64 oldTotal);
