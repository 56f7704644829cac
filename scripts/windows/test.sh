#!/usr/bin/env bash
# ./test --windows: the suite built for Windows and run under Wine through CTest, headless
# (on a virtual display; the tests draw offscreen). The tests about Linux are left out, each
# named with its reason in tests/CMakeLists.txt (linux_only).
#   --ci  where this machine has no cached Qt for Windows, say so loudly and stop without
#         failing: building one takes longer than a CI run may.
set -euo pipefail
cd "$(dirname "$0")/../.."
source scripts/common.sh
source scripts/windows/build.sh

install_missing "${BUILD_PACKAGES[@]}" "${WINDOWS_PACKAGES[@]}" xvfb xauth
if ! qt=$(scripts/windows-qt.sh --where); then
    if [[ ${1:-} == --ci ]]; then
        printf '%s\n' "" "########################################################################" \
            "##  WINDOWS LEG SKIPPED: no static Qt for Windows is cached on this machine" \
            "##  ($qt)." \
            "##  Building it takes over an hour; run scripts/windows-qt.sh once, then" \
            "##  ./test --windows. Nothing of the Windows build was tested." \
            "########################################################################" ""
        exit 0
    fi
    echo "No static Qt for Windows on this machine yet: building it once (an hour or more)."
    qt=$(scripts/windows-qt.sh | tail -n 1)
fi
windows_configure "$qt"
cmake --build build-win -j "$(nproc)"
windows_wine_env

echo "Left out under Wine:"
sed -n '/^set(linux_only/,/)$/p' tests/CMakeLists.txt | sed '1d; s/^ *\([a-z_]*\) "\(.*\)".*/  \1: \2/'
set +e
xvfb-run -a -s "-screen 0 1280x1024x24" \
    ctest --test-dir build-win --output-on-failure --timeout 600 -j "$(nproc)"
status=$?
wineserver -k 2>/dev/null
exit $status
