#!/usr/bin/env bash
# Builds a static Qt for 64-bit Windows (MinGW, posix threads) from Debian's own Qt source, once
# per machine, into a cache outside the repository keyed by Qt's version and the configure line.
# Prints the prefix of the installed Qt on its last line. The first build takes an hour or more.
#   scripts/windows-qt.sh          build if missing, then print the prefix
#   scripts/windows-qt.sh --where  print the prefix the cache would have; exit 1 if it is missing
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/common.sh

qt_version=$(dpkg-query -W -f='${Version}' qt6-base-dev 2>/dev/null | sed 's/+.*//')
[[ -n $qt_version ]] || qt_version=unknown
configure_line=(-static -release -platform win32-g++ -xplatform win32-g++ -nomake examples
    -nomake tests -no-opengl -no-dbus -no-icu -no-feature-sql -no-feature-network
    -no-feature-printsupport -no-feature-concurrent -no-feature-xml -no-feature-vulkan
    -no-direct2d -no-feature-tabletevent -no-feature-directwrite3 -qt-zlib -qt-pcre -qt-libpng
    -qt-libjpeg -qt-freetype -qt-harfbuzz -qt-doubleconversion)
key=$(printf '%s ' "$qt_version" "${configure_line[@]}" | sha256sum | cut -c1-12)
if [[ -n ${QUORVEL_QT_CACHE:-} ]]; then cache=$QUORVEL_QT_CACHE
elif (( EUID == 0 )); then cache=/var/cache/quorvel
else cache=${XDG_CACHE_HOME:-$HOME/.cache}/quorvel; fi
prefix=$cache/qt-$qt_version-mingw64-$key

if [[ ${1:-} == --where ]]; then
    echo "$prefix"
    [[ -f $prefix/.complete ]]
    exit
fi
if [[ -f $prefix/.complete ]]; then
    echo "$prefix"
    exit 0
fi

install_missing "${BUILD_PACKAGES[@]}" "${WINDOWS_PACKAGES[@]}" dpkg-dev
host_cmake_dir=$(dirname "$(dpkg -L qt6-base-dev | grep '/Qt6HostInfoConfig.cmake$')")
host_cmake_dir=$(dirname "$host_cmake_dir")
host_prefix=/usr

# Debian's source needs a deb-src entry for the suite the machine runs.
work=$cache/build-$key
mkdir -p "$work"
if ! compgen -G "$work/qt6-base-*/configure" >/dev/null; then
    if ! apt-cache showsrc qt6-base 2>/dev/null | grep -q '^Package: qt6-base'; then
        suite=$(. /etc/os-release && echo "$VERSION_CODENAME")
        echo "Adding a deb-src entry for $suite main"
        sudo=(); (( EUID != 0 )) && sudo=(sudo)
        printf 'Types: deb-src\nURIs: http://deb.debian.org/debian\nSuites: %s\nComponents: main\nSigned-By: /usr/share/keyrings/debian-archive-keyring.gpg\n' \
            "$suite" | "${sudo[@]}" tee /etc/apt/sources.list.d/quorvel-deb-src.sources >/dev/null
        "${sudo[@]}" apt-get update -q
    fi
    (cd "$work" && apt-get source qt6-base="$(dpkg-query -W -f='${Version}' qt6-base-dev)")
fi
src=$(dirname "$(compgen -G "$work/qt6-base-*/configure" | head -1)")

cat >"$work/toolchain.cmake" <<TOOLCHAIN
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(CMAKE_C_COMPILER x86_64-w64-mingw32-gcc-posix)
set(CMAKE_CXX_COMPILER x86_64-w64-mingw32-g++-posix)
set(CMAKE_RC_COMPILER x86_64-w64-mingw32-windres)
set(CMAKE_AR x86_64-w64-mingw32-gcc-ar-posix CACHE FILEPATH "")
set(CMAKE_RANLIB x86_64-w64-mingw32-gcc-ranlib-posix CACHE FILEPATH "")
set(CMAKE_FIND_ROOT_PATH /usr/x86_64-w64-mingw32)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
TOOLCHAIN

rm -rf "$work/build" "$prefix"
mkdir -p "$work/build"
started=$SECONDS
(cd "$work/build" &&
    "$src/configure" -prefix "$prefix" -qt-host-path "$host_prefix" "${configure_line[@]}" -- \
        -G Ninja -DCMAKE_TOOLCHAIN_FILE="$work/toolchain.cmake" \
        -DQT_HOST_PATH_CMAKE_DIR="$host_cmake_dir" &&
    cmake --build . --parallel "$(nproc)" &&
    cmake --install .)
cp "$work/toolchain.cmake" "$prefix/toolchain.cmake"
touch "$prefix/.complete"
echo "Qt for Windows built in $(( (SECONDS - started) / 60 )) min" >&2
# The build folder is large (gigabytes); the installed Qt is what is kept.
rm -rf "$work"
echo "$prefix"
