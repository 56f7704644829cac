# shellcheck shell=bash
# The package lists are read by the scripts that source this.
# shellcheck disable=SC2034
# Shared by ./run, ./test and ./package.

# What building and testing need.
BUILD_PACKAGES=(cmake make g++ pkg-config qt6-base-dev libxxhash-dev libxcb1-dev
                fonts-liberation)
# What the tests need besides: validators of the desktop entry, AppStream data and manual pages;
# a display, the session and accessibility buses and a reader for the screen reader's view.
TEST_PACKAGES=(desktop-file-utils appstream man-db groff-base
               xvfb xauth xclip dbus at-spi2-core python3-pyatspi python3-xlib)
# What ./package needs besides: dpkg-shlibdeps, the file type check CPack's use of it makes, lintian.
PACKAGE_PACKAGES=(dpkg-dev file lintian)
# What the Windows build needs: the MinGW cross compilers (posix threads), Ninja for Qt's own
# build, Wine to run the tests and NSIS for the installer.
WINDOWS_PACKAGES=(g++-mingw-w64-x86-64-posix gcc-mingw-w64-x86-64-posix ninja-build wine wine64
                  nsis zip)

# Installs the Debian packages that are not installed yet.
install_missing() {
    local missing=()
    for pkg in "$@"; do
        dpkg-query -W -f='${Status}' "$pkg" 2>/dev/null | grep -q "install ok installed" || missing+=("$pkg")
    done
    (( ${#missing[@]} == 0 )) && return 0
    echo "Installing: ${missing[*]}"
    local sudo=()
    (( EUID != 0 )) && sudo=(sudo)
    "${sudo[@]}" apt-get update -q
    DEBIAN_FRONTEND=noninteractive "${sudo[@]}" apt-get install -y -q --no-install-recommends "${missing[@]}"
}

# A compiler warning fails the build where QUORVEL_WARNINGS_AS_ERRORS is ON, as in CI
# (.ci/run); passed on every configuration, so that a build folder does not keep it.
warnings_as_errors() {
    echo "-DCMAKE_COMPILE_WARNING_AS_ERROR=${QUORVEL_WARNINGS_AS_ERRORS:-OFF}"
}

# Builds build/; given targets, only those (and what they need), else everything.
build_release() {
    cmake -S . -B build -DCMAKE_BUILD_TYPE=Release "$(warnings_as_errors)" >/dev/null
    local targets=()
    (( $# > 0 )) && targets=(--target "$@")
    cmake --build build -j "$(nproc)" "${targets[@]}"
}

# Optimised, with debug information for readable reports.
build_sanitized() {
    cmake -S . -B build-asan -DCMAKE_BUILD_TYPE=RelWithDebInfo -DQUORVEL_SANITIZE=ON \
        "$(warnings_as_errors)" >/dev/null
    cmake --build build-asan -j "$(nproc)"
}
