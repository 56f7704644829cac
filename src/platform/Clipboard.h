#pragma once

#include <QString>

// The system clipboard as the copy command needs it; either operation may fail transiently.
class Clipboard {
public:
    virtual ~Clipboard() = default;
    virtual bool clear() = 0;
    // Places text as plain text.
    virtual bool setText(const QString &text) = 0;
};

// Both retry a failed attempt up to 1000 times in all and never report a failure.
void ClearClipboard(Clipboard &clipboard);
bool SetClipboardText(Clipboard &clipboard, const QString &text);
