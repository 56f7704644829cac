#include "NormalizePath.h"

namespace {
// One left-to-right pass over non-overlapping pairs, so three in a row become two.
QString collapsePairs(QStringView text, QChar separator) {
    QString out;
    out.reserve(text.size());
    for (qsizetype i = 0; i < text.size(); ++i) {
        out += text[i];
        if (text[i] == separator && i + 1 < text.size() && text[i + 1] == separator)
            ++i;
    }
    return out;
}
} // namespace

QString NormalizePath(const QString &path, QChar separator) {
    if (!path.startsWith(separator))
        return collapsePairs(path, separator);
    qsizetype rest = 1;
    while (rest < path.size() && path[rest] == separator)
        ++rest;
    // Two leading backslashes mark a network path; a slash system has none, so one leading
    // slash names the same file that a list or a single drop would give.
    const int leading = separator == QLatin1Char('/') ? 1 : 2;
    return QString(leading, separator) + collapsePairs(QStringView(path).mid(rest), separator);
}
