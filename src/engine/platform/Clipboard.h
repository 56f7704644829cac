#pragma once

#include <QByteArray>

// The system clipboard as the copy command needs it; either operation may fail transiently.
class Clipboard {
public:
    virtual ~Clipboard() = default;
    virtual bool clear() = 0;
    // Places text, given in UTF-8, as plain text.
    virtual bool setText(const QByteArray &utf8) = 0;
};

// Both retry a failed attempt up to 1000 times in all and never report a failure.
void ClearClipboard(Clipboard &clipboard);
bool SetClipboardText(Clipboard &clipboard, const QByteArray &utf8);
