#!/usr/bin/env bash
# Installs the setup silently into a fresh Wine prefix, then checks that the installed
# quorvel-find prints the same bytes as the Linux build on a generated list of a million
# lines, and that the uninstaller removes what was installed.
#   scripts/windows/check-setup.sh dist/quorvel-<version>-setup.exe
set -euo pipefail
cd "$(dirname "$0")/../.."
source scripts/common.sh
setup=$(realpath "$1")
build_release quorvel-find >/dev/null

work=$(mktemp -d)
trap 'WINEPREFIX=$work/wine wineserver -k 2>/dev/null || true; rm -rf "$work"' EXIT
export WINEPREFIX=$work/wine WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
wineboot -i >/dev/null 2>&1 || true
wine "$setup" /S
installed=$(winepath -u "$(wine cmd /c 'echo %LOCALAPPDATA%' 2>/dev/null | tr -d '\r')\\Programs\\Quorvel")
for file in quorvel.exe quorvel-find.exe uninstall.exe HAND-M.CUR drag.ico skins/slate.qss; do
    [[ -f $installed/$file ]] || { echo "setup did not install $file" >&2; exit 1; }
done
menu=$(winepath -u "$(wine cmd /c 'echo %APPDATA%' 2>/dev/null | tr -d '\r')\\Microsoft\\Windows\\Start Menu\\Programs")
[[ -f $menu/Quorvel.lnk ]] || { echo "no Start menu shortcut" >&2; exit 1; }
wine reg query 'HKCU\Software\Microsoft\Windows\CurrentVersion\Uninstall\Quorvel' /v UninstallString \
    >/dev/null || { echo "no entry in Add/Remove Programs" >&2; exit 1; }

# A million lines: numbers repeating, a few non-ASCII texts, CR LF and LF ends mixed.
awk 'BEGIN { for (i = 0; i < 1000000; i++) printf "%s%d%s", (i % 7 ? "item " : "café "), \
     (i * 7919) % 400000, (i % 3 ? "\n" : "\r\n") }' >"$work/list.txt"
build/bin/quorvel-find "$work/list.txt" >"$work/linux.out"
wine "$installed/quorvel-find.exe" "$(winepath -w "$work/list.txt")" >"$work/windows.out"
if ! cmp "$work/linux.out" "$work/windows.out"; then
    echo "the installed quorvel-find.exe differs from the Linux build" >&2
    exit 1
fi
echo "Installed quorvel-find.exe: $(wc -c <"$work/windows.out") bytes, as on Linux"

wine "$installed/uninstall.exe" /S _?="$(winepath -w "$installed")"
wineserver -w
[[ ! -e $installed/quorvel.exe ]] || { echo "the uninstaller left quorvel.exe" >&2; exit 1; }
echo "Setup installed silently and uninstalled: $setup"
