#pragma once

#include "Clipboard.h"

class QtClipboard : public Clipboard {
public:
    bool clear() override;
    bool setText(const QByteArray &utf8) override;
};
