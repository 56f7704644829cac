#pragma once

#include <QByteArray>

#include <vector>

class TextStore;
class TimeSlice;

// The ticked rows of the one-column results as text in UTF-8: each ticked text with its
// trailing spaces dropped, followed by CR LF. A row past the end of checks is unticked. Throws
// std::bad_alloc before writing any of it when the process could not hold the text. Its
// progress counts two steps a row: one sizing the text, one writing it.
QByteArray layoutCheckedRows(const TextStore &texts, const std::vector<bool> &checks,
                             TimeSlice *slice);
