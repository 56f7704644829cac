// The finder against the literal pairwise scan: same rows in the same order.
#include "FuzzInput.h"

#include "find/DuplicateFinder.h"

#include <QStringList>

namespace {
bool isBlank(const QString &text) {
    for (QChar c : text)
        if (c != QLatin1Char(' '))
            return false;
    return true;
}

// Each unmatched item pairs with the first later unmatched copy of its text.
QStringList pairwise(const QStringList &items) {
    QStringList rows;
    std::vector<bool> matched(size_t(items.size()), false);
    for (qsizetype i = 0; i < items.size(); ++i) {
        if (matched[size_t(i)])
            continue;
        for (qsizetype j = i + 1; j < items.size(); ++j) {
            if (items[j] != items[i] || isBlank(items[i]))
                continue;
            rows << items[j];
            matched[size_t(j)] = true;
            break;
        }
    }
    return rows;
}
} // namespace

extern "C" int LLVMFuzzerTestOneInput(const unsigned char *data, size_t size) {
    FuzzInput input(data, size);
    QStringList items;
    TextStore store;
    while (!input.atEnd() && items.size() < 400) {
        items << input.text(6);
        store.append(items.constLast());
    }
    QStringList found;
    qsizetype announcedRows = -1;
    findDuplicates(
        store, nullptr,
        [&](const TextStore &rows) {
            for (qsizetype i = 0; i < rows.size(); ++i)
                found << rows.text(i);
        },
        [&](qsizetype rows, qsizetype) { announcedRows = rows; });
    FUZZ_CHECK(found == pairwise(items));
    FUZZ_CHECK(found.isEmpty() || announcedRows == found.size());
    return 0;
}
