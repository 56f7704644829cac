#include "FolderSystem.h"

#include <algorithm>

// makeSystemFolderSystem() is in the one file of the platform that is built:
// PosixFolderSystem.cpp or WindowsFolderSystem.cpp.

void sortFolderNames(QStringList &names) {
    std::ranges::sort(names, [](const QString &a, const QString &b) {
        const int folded = a.compare(b, Qt::CaseInsensitive);
        return folded != 0 ? folded < 0 : a < b;
    });
}
