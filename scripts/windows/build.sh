# shellcheck shell=bash
# Sourced by ./test --windows and ./package --windows (after scripts/common.sh): the Windows
# build in build-win/, cross-compiled with MinGW against the cached static Qt.

# Configures build-win/ against the Qt at $1; further arguments go to CMake.
windows_configure() {
    local qt=$1
    shift
    cmake -S . -B build-win -G Ninja -DCMAKE_BUILD_TYPE=Release \
          -DCMAKE_TOOLCHAIN_FILE="$qt/lib/cmake/Qt6/qt.toolchain.cmake" \
          -DQT_CHAINLOAD_TOOLCHAIN_FILE="$qt/toolchain.cmake" \
          -DCMAKE_CROSSCOMPILING_EMULATOR=wine "$@" >/dev/null
}

# Wine in a prefix of the build's own, quiet, without offering to install Mono or Gecko.
windows_wine_env() {
    export WINEPREFIX=${WINEPREFIX:-$PWD/build-win/wine}
    export WINEDEBUG=${WINEDEBUG:--all}
    export WINEDLLOVERRIDES="mscoree,mshtml="
    if [[ ! -f $WINEPREFIX/system.reg ]]; then
        echo "Creating the Wine prefix $WINEPREFIX"
        wineboot -i >/dev/null 2>&1 || true
        # Wine hides a name with a leading dot unless told otherwise; Windows does not.
        wine reg add 'HKCU\Software\Wine' /v ShowDotFiles /d Y /f >/dev/null 2>&1
        wineserver -w
    fi
}
