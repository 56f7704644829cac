// The finder against the literal pairwise scan: same rows in the same order; and the spill,
// with a budget so small that partitions split again level after level.
#include "FuzzInput.h"

#include "engine/find/DuplicateFinder.h"
#include "engine/spill/SpillFile.h"
#include "engine/spill/SpillFinder.h"

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
    const QStringList expected = pairwise(items);
    FUZZ_CHECK(found == expected);
    FUZZ_CHECK(found.isEmpty() || announcedRows == found.size());

    SpillFinder spill(defaultTemporaryFolder(), qint64(1024 + size % 2048), 0);
    for (qsizetype i = 0; i < store.size(); i += 7) { // in batches, as lines are read
        TextStore batch;
        for (qsizetype k = i; k < std::min(i + 7, store.size()); ++k)
            batch.appendBytes(store.bytes(k));
        spill.add(batch);
    }
    QStringList spilled;
    spill.finish([&](const TextStore &rows) {
        for (qsizetype i = 0; i < rows.size(); ++i)
            spilled << rows.text(i);
    });
    FUZZ_CHECK(spilled == expected);
    return 0;
}
