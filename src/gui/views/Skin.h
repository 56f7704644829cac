#pragma once

#include "engine/platform/SkinEngine.h"

class QWidget;

// Skins window from the skin file in appFolder when that lists as an ordinary file: the
// window gets the button-face background, then the engine loads and applies the skin.
// Failures of the engine pass to the caller.
void applySkin(QWidget &window, const QString &appFolder, SkinEngine &engine);

// Our skin engine: a skin file is a Qt style sheet. A file that is not one leaves the window
// as it is.
class StyleSheetSkin : public SkinEngine {
public:
    bool loadSkin(const QString &path, const QString &iniName) override;
    qint32 applyOptions() const override { return options_; }
    void setApplyOptions(qint32 options) override { options_ = options; }
    // The window's dialogs are its children and take its style sheet anyway, and every
    // window lives on one thread: the two switches change nothing here.
    void setAutoApplyNewWindows(bool) override {}
    void setAutoApplyNewThreads(bool) override {}
    void applyWindow(quintptr windowHandle) override;

    const QString &styleSheet() const { return sheet_; }

private:
    QString sheet_;
    qint32 options_ = 0;
};
