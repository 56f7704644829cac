#pragma once

#include <QDir>
#include <QString>

// Tidies a path joined from a folder and a name: doubled separators become single ones, and
// a path that starts with backslashes starts with exactly two (a network path stays one),
// one that starts with slashes with exactly one.
QString NormalizePath(const QString &path, QChar separator = QDir::separator());
