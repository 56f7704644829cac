#pragma once

#include <QString>
#include <QStringList>

// Where the optional support files (pointers, skin) are looked for, first folder first: the
// executable's folder, then the installed data folder relative to it (../share/quorvel), so
// a build folder, a system install and a relocated install all work.
QStringList supportFolders(const QString &appFolder);

// The skin is also looked for in the user's configuration folder, so a user can add one
// without writing to the installation; it comes before the installed data folder.
QStringList skinFolders(const QString &appFolder);

// name (a relative path) in the first of folders that holds an entry of that name, or in
// the first folder when none does.
QString findSupportFile(const QStringList &folders, const QString &name);
