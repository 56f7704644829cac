#pragma once

#include <QString>

#include <vector>

class TextStore;
class TimeSlice;

// The ticked rows of the one-column results as text: each ticked text with its trailing
// spaces dropped, followed by CR LF. A row past the end of checks is unticked. Its progress
// counts rows.
QString layoutCheckedRows(const TextStore &texts, const std::vector<bool> &checks,
                          TimeSlice *slice);
