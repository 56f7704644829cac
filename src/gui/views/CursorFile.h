#pragma once

#include <QCursor>
#include <QString>

// A pointer image from a Windows cursor (.cur) or icon (.ico) file, or any image Qt reads.
// A cursor keeps the hot spot of its file, an icon points with its centre, other images with
// their top-left corner. Throws Failure when the file is not a regular file, cannot be read
// or holds no picture.
QCursor loadCursorFile(const QString &path);
