#pragma once

#include <QByteArray>

// The system clipboard as the copy command needs it; either operation may fail transiently.
class Clipboard {
public:
    virtual ~Clipboard() = default;
    virtual bool clear() = 0;
    // The text in UTF-8. format 0 is plain text; any other value names a clipboard format of
    // its own.
    virtual bool setText(const QByteArray &utf8, int format) = 0;
};

// Both retry a failed attempt up to 1000 times in all and never report a failure.
void ClearClipboard(Clipboard &clipboard);
bool SetClipboardText(Clipboard &clipboard, const QByteArray &utf8, int format);
