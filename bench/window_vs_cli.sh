#!/usr/bin/env bash
# The window against quorvel-find on one list file: "Load Data From File" then "Start Finding"
# in a shown window (quorvel_bench --load-find) and quorvel-find's whole run, alternating.
# Prints each run's figures, then the medians: the window's time over quorvel-find's, its
# longest stall and its peak memory over the file's size.
#
# usage: bench/window_vs_cli.sh [LINES | FILE] [RUNS]     (defaults: 10000000 lines, 5 runs)
# A number of LINES generates the window benchmark's list in a temporary folder.
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/common.sh
install_missing time
[[ -x build/bin/quorvel-find && -x build/bin/quorvel_bench ]] || build_release >/dev/null
runs=${2:-5}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
list=${1:-10000000}
if [[ $list =~ ^[0-9]+$ ]]; then
    build/bin/quorvel_bench --write-list "$work/list.txt" --file-lines "$list"
    list=$work/list.txt
fi
export QT_QPA_PLATFORM=${QT_QPA_PLATFORM:-offscreen}
for run in $(seq "$runs"); do
    build/bin/quorvel_bench --load-find "$list" </dev/null 2>/dev/null >"$work/window.$run"
    /usr/bin/time -f "%e %M" -o "$work/cli.$run" build/bin/quorvel-find "$list" >/dev/null
done
median() { sort -g | awk '{v[NR] = $1} END {print v[int((NR + 1) / 2)]}'; }
figure() { cat "$work"/window.* | awk -v n="$1" '$1 == n {print $2}' | median; }
window=$(figure load_and_find)
cli=$(cat "$work"/cli.* | awk '{print $1}' | median)
cli_kib=$(cat "$work"/cli.* | awk '{print $2}' | median)
bytes=$(stat -c %s "$list")
echo "window load+find $window s (load $(figure load_file), find $(figure load_find))," \
    "quorvel-find $cli s: $(awk -v a="$window" -v b="$cli" 'BEGIN {printf "%.2f", a / b}') x"
echo "window longest stall $(figure load_and_find_stall_max) ms (load $(figure load_stall_max)," \
    "find $(figure load_find_stall_max))"
echo "window peak $(figure load_and_find_peak_per_file) x the file; quorvel-find" \
    "$(awk -v k="$cli_kib" -v b="$bytes" 'BEGIN {printf "%.2f", k * 1024 / b}') x"
