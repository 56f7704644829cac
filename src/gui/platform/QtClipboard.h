#pragma once

#include "engine/platform/Clipboard.h"

class QtClipboard : public Clipboard {
public:
    // From here on, other programs' pastes of what this program placed are guarded, whichever
    // part of it placed the text.
    QtClipboard();
    bool clear() override;
    bool setText(const QByteArray &utf8) override;
};
