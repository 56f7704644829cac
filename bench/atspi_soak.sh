#!/usr/bin/env bash
# The window under a screen reader's random questions while it loads, finds and clears: the
# real window (bench/atspi_soak_window.cpp) in the session tests/atspi_session.sh makes,
# bench/atspi_soak.py asking. Prints the count of calls and whether the window survived.
#
# usage: bench/atspi_soak.sh [SECONDS] [LINES]     (defaults: 600 s, 1000000 lines)
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/common.sh
[[ -x build/bin/atspi_soak_window ]] || build_release atspi_soak_window >/dev/null
seconds=${1:-600}
lines=${2:-1000000}
# The window goes on a little longer than the questions, so it is still there to be asked.
# shellcheck disable=SC2016 # the inner shell expands its arguments
ATSPI_SESSION_SECONDS=$((seconds + 120)) tests/atspi_session.sh bash -c '
    build/bin/atspi_soak_window $(($1 + 10)) "$2" &
    window=$!
    status=0
    /usr/bin/python3 bench/atspi_soak.py "$window" "$1" || status=1
    wait "$window" || { echo "window ended with status $?"; status=1; }
    exit $status' soak "$seconds" "$lines"
