// NormalizePath against the rule written out: doubled separators become one in a single
// left-to-right pass, and a leading run becomes two backslashes (a network path) or one slash.
#include "FuzzInput.h"

#include "engine/list/NormalizePath.h"

extern "C" int LLVMFuzzerTestOneInput(const unsigned char *data, size_t size) {
    FuzzInput input(data, size);
    const QChar separator = input.byte() & 1 ? QLatin1Char('\\') : QLatin1Char('/');
    QString path;
    while (!input.atEnd() && path.size() < 64) {
        const unsigned b = input.byte() % 5;
        path += b < 2    ? separator
                : b == 2 ? QChar(QLatin1Char('a'))
                : b == 3 ? QChar(QLatin1Char(':'))
                         : QChar(0xE9);
    }
    const QString before = path;

    QString expected;
    qsizetype i = 0;
    if (path.startsWith(separator)) {
        expected = QString(separator == QLatin1Char('\\') ? 2 : 1, separator);
        while (i < path.size() && path[i] == separator)
            ++i;
    }
    for (; i < path.size(); ++i) {
        expected += path[i];
        if (path[i] == separator && i + 1 < path.size() && path[i + 1] == separator)
            ++i;
    }
    FUZZ_CHECK(NormalizePath(path, separator) == expected);
    FUZZ_CHECK(path == before);
    return 0;
}
