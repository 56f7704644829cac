#pragma once

#include <QDir>
#include <QString>

// Tidies a path joined from a folder and a name: doubled separators become single ones, and
// a path that starts with separators starts with exactly two (a network path stays one).
QString NormalizePath(const QString &path, QChar separator = QDir::separator());
