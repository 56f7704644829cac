#include "Clipboard.h"

namespace {
constexpr int MaxAttempts = 1000;

template <class F> bool retry(F &&attempt) {
    for (int i = 0; i < MaxAttempts; ++i) {
        try {
            if (attempt())
                return true;
        } catch (...) {
            // A clipboard owned by another program; try again.
        }
    }
    return false;
}
} // namespace

void ClearClipboard(Clipboard &clipboard) {
    retry([&] { return clipboard.clear(); });
}

bool SetClipboardText(Clipboard &clipboard, const QByteArray &utf8) {
    return retry([&] { return clipboard.setText(utf8); });
}
