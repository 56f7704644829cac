#include "WindowsSystem.h"

#include <QDir>

#include <windows.h>

std::wstring windowsPath(const QString &path) {
    const std::wstring native = QDir::toNativeSeparators(path).toStdWString();
    // Short paths go as they are, so that device names such as NUL keep their meaning.
    if (native.size() < MAX_PATH - 12 || native.starts_with(L"\\\\?\\") ||
        native.starts_with(L"\\\\.\\"))
        return native;
    const DWORD size = GetFullPathNameW(native.c_str(), 0, nullptr, nullptr);
    if (size == 0)
        return native;
    std::wstring full(size, L'\0');
    const DWORD length = GetFullPathNameW(native.c_str(), size, full.data(), nullptr);
    if (length == 0 || length >= size)
        return native;
    full.resize(length);
    if (full.starts_with(L"\\\\"))
        return L"\\\\?\\UNC\\" + full.substr(2);
    return L"\\\\?\\" + full;
}

QString windowsReason(unsigned long error) {
    wchar_t *text = nullptr;
    const DWORD length = FormatMessageW(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
        nullptr, error, MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT),
        reinterpret_cast<wchar_t *>(&text), 0, nullptr);
    QString reason = length > 0 ? QString::fromWCharArray(text, int(length)).trimmed()
                                : QStringLiteral("Error %1").arg(error);
    LocalFree(text);
    // One sentence, as the system's messages on Linux read.
    if (reason.endsWith(QLatin1Char('.')))
        reason.chop(1);
    return reason;
}
