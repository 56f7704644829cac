#include "FolderSystem.h"

#include <algorithm>

void sortFolderNames(QStringList &names) {
    std::ranges::sort(names, [](const QString &a, const QString &b) {
        const int folded = a.compare(b, Qt::CaseInsensitive);
        return folded != 0 ? folded < 0 : a < b;
    });
}
