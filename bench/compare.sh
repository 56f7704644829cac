#!/usr/bin/env bash
# Times quorvel-find against the tools a user might pick instead, on one generated list:
# LC_ALL=C sort FILE | uniq -d, and an awk hash (mawk 'c[$0]++%2==1' FILE). Each command runs
# several times under /usr/bin/time; prints each one's median wall time and peak resident
# memory (for the pipeline, its largest process), the ratios, and whether the three agree on
# the set of repeated values. Exits with 1 when they do not.
#
# usage: bench/compare.sh [LINES] [RUNS]      (defaults: 10000000 lines, 3 runs)
# The list: LINES lines ending in CR LF, 6 to 30 lowercase letters each, drawn from 0.6 LINES
# distinct values, seeded (the list the window benchmark loads), in a temporary folder.
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/common.sh

lines=${1:-10000000}
runs=${2:-3}
install_missing time mawk
[[ -x build/bin/quorvel-find && -x build/bin/quorvel_bench ]] || build_release >/dev/null

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
list=$work/list.txt
QT_QPA_PLATFORM=offscreen XDG_RUNTIME_DIR=$work build/bin/quorvel_bench --write-list "$list" \
    --file-lines "$lines" 2>/dev/null
size=$(stat -c %s "$list")

find_cmd() { build/bin/quorvel-find "$1"; }
sort_cmd() { LC_ALL=C sort "$1" | uniq -d; }
mawk_cmd() { mawk 'c[$0]++%2==1' "$1"; }
export -f find_cmd sort_cmd mawk_cmd
tools=(find sort mawk)
declare -A label=([find]="quorvel-find" [sort]="LC_ALL=C sort | uniq -d"
                  [mawk]="mawk 'c[\$0]++%2==1'")

# Runs in turns, so that a busy moment of the machine does not fall on one tool only.
for ((run = 1; run <= runs; ++run)); do
    for tool in "${tools[@]}"; do
        /usr/bin/time -f "%e %M" -o "$work/$tool.time" \
            bash -c "${tool}_cmd \"\$1\"" _ "$list" >"$work/$tool.out"
        cat "$work/$tool.time" >>"$work/$tool.times"
    done
done

median() { sort -n | awk '{ v[NR] = $1 } END { print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }
declare -A wall rss
for tool in "${tools[@]}"; do
    wall[$tool]=$(cut -d' ' -f1 "$work/$tool.times" | median)
    rss[$tool]=$(cut -d' ' -f2 "$work/$tool.times" | sort -n | tail -1)
done

printf 'list: %d lines, %d bytes, %d runs each, %d cores\n\n' "$lines" "$size" "$runs" "$(nproc)"
printf '%-26s %12s %14s %10s\n' tool "median wall" "peak memory" "/ file"
for tool in "${tools[@]}"; do
    awk -v n="${label[$tool]}" -v w="${wall[$tool]}" -v m="${rss[$tool]}" -v s="$size" \
        'BEGIN { printf "%-26s %10.2f s %11.0f MB %10.2f\n", n, w, m / 1024, m * 1024 / s }'
done
echo
awk -v f="${wall[find]}" -v s="${wall[sort]}" -v m="${wall[mawk]}" -v r="${rss[find]}" \
    -v z="$size" 'function verdict(ok) { return ok ? "ok" : "MISSED" }
    BEGIN {
        printf "quorvel-find / sort | uniq -d, wall: %.3f (at most 0.25: %s)\n", f / s, verdict(f / s <= 0.25)
        printf "quorvel-find / mawk, wall:          %.3f (at most 0.10: %s)\n", f / m, verdict(f / m <= 0.10)
        printf "quorvel-find memory / file size:    %.2f (at most 2.5: %s)\n", r * 1024 / z, verdict(r * 1024 / z <= 2.5)
    }'

# The rows of all three end in CR LF as the lines did, so the sets compare as they are.
for tool in "${tools[@]}"; do
    LC_ALL=C sort -u "$work/$tool.out" >"$work/$tool.set"
done
values=$(wc -l <"$work/find.set")
if cmp -s "$work/find.set" "$work/sort.set" && cmp -s "$work/find.set" "$work/mawk.set"; then
    echo "agreement: all three report the same $values repeated values" \
        "(quorvel-find $(wc -l <"$work/find.out") rows, mawk $(wc -l <"$work/mawk.out"))"
else
    echo "DISAGREEMENT: the sets of repeated values differ" \
        "(quorvel-find $values, sort | uniq -d $(wc -l <"$work/sort.set"), mawk $(wc -l <"$work/mawk.set"))"
    exit 1
fi
