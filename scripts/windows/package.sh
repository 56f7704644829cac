#!/usr/bin/env bash
# ./package --windows: quorvel.exe and quorvel-find.exe for 64-bit Windows, statically linked
# (they import only Windows' own libraries), in an installer, dist/quorvel-<version>-setup.exe,
# and a portable zip, dist/quorvel-<version>-windows.zip. Builds the static Qt first where
# this machine has none (an hour or more, once). Then installs the setup silently into a fresh
# Wine prefix and checks that the installed quorvel-find gives the Linux build's bytes.
set -euo pipefail
cd "$(dirname "$0")/../.."
source scripts/common.sh
source scripts/windows/build.sh

install_missing "${BUILD_PACKAGES[@]}" "${WINDOWS_PACKAGES[@]}"
qt=$(scripts/windows-qt.sh | tail -n 1)
windows_configure "$qt"
cmake --build build-win -j "$(nproc)" --target quorvel quorvel-find

stage=build-win/stage
rm -rf "$stage"
cmake --install build-win --prefix "$stage" --strip >/dev/null
for exe in quorvel.exe quorvel-find.exe; do
    imports=$(x86_64-w64-mingw32-objdump -p "$stage/$exe" | sed -n 's/^\s*DLL Name: //p')
    if grep -Eiq 'libgcc|libstdc|libwinpthread|^qt6' <<<"$imports"; then
        echo "$exe imports libraries Windows does not have:" "$imports" >&2
        exit 1
    fi
done

version=$(sed -n 's/^project(Quorvel VERSION \([0-9.]*\).*/\1/p' CMakeLists.txt)
mkdir -p dist
setup=dist/quorvel-$version-setup.exe
zip=dist/quorvel-$version-windows.zip
rm -f "$setup" "$zip"
makensis -V2 -DVERSION="$version" -DSTAGE="$PWD/$stage" -DICON="$PWD/assets/quorvel.ico" \
         -DSIZE_KB="$(du -sk "$stage" | cut -f1)" -DOUTFILE="$PWD/$setup" \
         scripts/windows/installer.nsi
rm -rf "build-win/quorvel-$version"
cp -r "$stage" "build-win/quorvel-$version"
(cd build-win && zip -qr "../$zip" "quorvel-$version")
ls -l "$stage"/*.exe "$setup" "$zip"

scripts/windows/check-setup.sh "$setup"
