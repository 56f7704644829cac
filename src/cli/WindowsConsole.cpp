#include "WindowsConsole.h"

#include <QByteArray>
#include <QList>
#include <QString>

#include <fcntl.h>
#include <windows.h>

#include <shellapi.h>

void useUtf8Arguments(int &argc, char **&argv) {
    int count = 0;
    wchar_t **wide = CommandLineToArgvW(GetCommandLineW(), &count);
    if (!wide)
        return;
    // Kept for the whole run, as argv is.
    static QList<QByteArray> utf8;
    static QList<char *> pointers;
    for (int i = 0; i < count; ++i)
        utf8 << QString::fromWCharArray(wide[i]).toUtf8();
    LocalFree(wide);
    for (QByteArray &arg : utf8)
        pointers << arg.data();
    pointers << nullptr;
    argc = count;
    argv = pointers.data();
}

namespace {
// Work under way is abandoned as a kill would leave it: the temporary files are deleted by
// the system as their handles close, and nothing half done is flushed.
BOOL WINAPI endAtOnce(DWORD event) {
    if (event == CTRL_C_EVENT || event == CTRL_BREAK_EVENT || event == CTRL_CLOSE_EVENT) {
        TerminateProcess(GetCurrentProcess(), STATUS_CONTROL_C_EXIT);
        return TRUE;
    }
    return FALSE;
}
} // namespace

void holdClosedStandardDescriptors() {
    for (int fd = 0; fd <= 2; ++fd) {
        if (_get_osfhandle(fd) != -1 && _get_osfhandle(fd) != -2)
            continue;
        const int held = _open("NUL", fd == 0 ? _O_WRONLY : _O_RDONLY);
        if (held >= 0 && held != fd) {
            _dup2(held, fd);
            _close(held);
        }
    }
    for (int fd = 0; fd <= 2; ++fd)
        _setmode(fd, _O_BINARY);
    SetConsoleCtrlHandler(endAtOnce, TRUE);
    // The progress line rewrites itself with VT sequences, which a console shows only when asked.
    const HANDLE error = GetStdHandle(STD_ERROR_HANDLE);
    DWORD mode = 0;
    if (GetConsoleMode(error, &mode))
        SetConsoleMode(error, mode | ENABLE_VIRTUAL_TERMINAL_PROCESSING);
}
