#pragma once

#include <QString>
#include <QtGlobal>

#include <optional>

// The skin engine the start-up drives. Each member stands for one member of the engine's
// dispatch interface, numbered as there.
class SkinEngine {
public:
    virtual ~SkinEngine() = default;

    // 2: loads the skin from a file; the result is not examined by the start-up.
    virtual bool loadSkin(const QString &path, const QString &iniName) = 0;
    // 1: the option bits. Bit 0 lets applyWindow skin a window.
    static constexpr qint32 SkinWindows = 1;
    virtual qint32 applyOptions() const = 0;
    virtual void setApplyOptions(qint32 options) = 0;
    // 5 and 10: two switches.
    virtual void setAutoApplyNewWindows(bool on) = 0;
    virtual void setAutoApplyNewThreads(bool on) = 0;
    // 3: skins the window with this native handle.
    virtual void applyWindow(quintptr windowHandle) = 0;
};

// The skin file's path when the first one found from appFolder (see skinFolders) lists as an
// ordinary file: not a folder, not a hidden file, not a device, pipe or socket.
std::optional<QString> listedSkinFile(const QString &appFolder);

// The style sheet of a skin file, or nothing when the file cannot be read, is too large to
// be one or is not UTF-8.
std::optional<QString> readStyleSheetFile(const QString &path);
