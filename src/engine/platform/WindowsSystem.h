#pragma once

// Windows only: what the Windows seams share.
#include <QString>

#include <string>

// The path as Windows' wide-character calls take it: backslashes, and past the old limit of
// 260 characters the "\\?\" form, which lifts it. Relative paths are made absolute first,
// since the long form takes none.
std::wstring windowsPath(const QString &path);

// The system's own description of an error code, as Windows words it.
QString windowsReason(unsigned long error);
