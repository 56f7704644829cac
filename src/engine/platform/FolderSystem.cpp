#include "FolderSystem.h"

#include <algorithm>

#ifdef Q_OS_UNIX
#include "PosixFolderSystem.h"
#endif

std::unique_ptr<FolderSystem> makeSystemFolderSystem() {
#ifdef Q_OS_UNIX
    return std::make_unique<PosixFolderSystem>();
#else
#error "No folder system for this platform yet"
#endif
}

void sortFolderNames(QStringList &names) {
    std::ranges::sort(names, [](const QString &a, const QString &b) {
        const int folded = a.compare(b, Qt::CaseInsensitive);
        return folded != 0 ? folded < 0 : a < b;
    });
}
