#pragma once

// What assistive technology sees of the lists: each view is a list named by its header's
// title, its rows are list items made only when a reader asks for one (a few are kept), and a
// showing progress strip is a progress bar after the last row. The views tell their changes
// themselves.

// Puts the interfaces in place; later calls do nothing.
void installReportViewAccessibility();
