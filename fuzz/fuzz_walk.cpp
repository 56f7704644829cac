// The folder walk of a drop over a tree built from the input: it ends, and every item is a
// dropped path as given or a file found in or below a dropped folder, each listed once and
// none the walk must leave out.
#include "FuzzInput.h"

#include "engine/list/AddFolder.h"
#include "MemoryFolderSystem.h"

#include <QSet>

namespace {
// Names over a small alphabet that still reaches every rule: "~", ".", "?", control
// characters and blanks.
QString name(FuzzInput &input) {
    static const char16_t alphabet[] = {u'a', u'B', u'~', u'.', u'?', u' ', 0x01, 0x85, 0xE9};
    QString out;
    const int length = 1 + int(input.byte() % 4);
    for (int i = 0; i < length; ++i)
        out += QChar(alphabet[input.byte() % std::size(alphabet)]);
    return out;
}

int attributes(FuzzInput &input) {
    static const int values[] = {0, 1, 2, 4, 16, 18, 22, 32, 34, 35, 38, 1024, 1040, 1046};
    return values[input.byte() % std::size(values)];
}
} // namespace

extern "C" int LLVMFuzzerTestOneInput(const unsigned char *data, size_t size) {
    FuzzInput input(data, size);
    const QChar separator = input.byte() & 1 ? QLatin1Char('\\') : QLatin1Char('/');
    const QString root = separator == QLatin1Char('/') ? QStringLiteral("/") : QStringLiteral("C:");
    MemoryFolderSystem files(separator);
    QStringList folders{separator == QLatin1Char('/') ? QStringLiteral("") : root};
    QSet<QString> filePaths;
    while (!input.atEnd() && folders.size() + filePaths.size() < 60) {
        const unsigned kind = input.byte() % 4;
        const QString parent = folders[input.byte() % folders.size()];
        const QString path = parent + separator + name(input);
        if (kind == 0) {
            files.addFolder(path, FolderSystem::Directory | (attributes(input) & ~32));
            folders << path;
        } else if (kind == 3) {
            files.failListing(parent.isEmpty() ? root : parent, input.byte() % 2 ? 70 : 76);
        } else {
            files.addFile(path, attributes(input) & ~16, input.byte() % 4 != 0);
            filePaths << path;
        }
    }
    QStringList dropped;
    for (int i = 0, n = 1 + int(input.byte() % 3); i < n; ++i) {
        const QString folder = folders[input.byte() % folders.size()];
        dropped << (folder.isEmpty() ? root : folder);
    }

    QStringList items;
    AddFolder walk(
        files, nullptr, [](const QString &) {},
        [&](const TextStore &batch) {
            for (qsizetype i = 0; i < batch.size(); ++i)
                items << batch.text(i);
        });
    walk.DropPaths(dropped);

    QSet<QString> seen;
    for (const QString &item : items) {
        FUZZ_CHECK(filePaths.contains(item) || dropped.contains(item));
        if (dropped.contains(item))
            continue;
        FUZZ_CHECK(!seen.contains(item) || dropped.size() > 1);
        seen << item;
        const QString fileName = item.section(separator, -1);
        FUZZ_CHECK(!fileName.startsWith(QLatin1Char('~')));
        FUZZ_CHECK(files.attributes(item).value_or(0) != 34);
        FUZZ_CHECK(files.isOpenableFile(item));
    }
    return 0;
}
