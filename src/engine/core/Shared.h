#pragma once

#include <QString>

inline constexpr char ProductName[] = "Quorvel Software";
inline constexpr char ContactAddress[] = "https://quorvel.example/contact";

// True when the file system can tell the path's modification time. Never fails, whatever
// the path holds.
bool FileExists(const QString &path);

// The product name cut back at its last blank (at least once) until it has 40 characters or
// fewer. A name without a blank stays whole.
QString shortenApplicationTitle(QString name);

// Message texts keep bare CRs where they are built; Qt breaks lines only on LF.
QString toDisplayLineBreaks(QString text);
