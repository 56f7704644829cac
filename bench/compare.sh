#!/usr/bin/env bash
# Times quorvel-find --lf against the floor (build/bin/floor: reads the list, cuts its lines and
# hashes each with XXH3 on one thread, nothing else) and the tools a user might pick instead, on
# one generated list: LC_ALL=C sort FILE | uniq -d, and an awk hash (mawk 'c[$0]++%2==1' FILE).
# The commands run in turns, several times each, under /usr/bin/time; prints each one's median
# wall time and peak resident memory (for the pipeline, its largest process), the ratios, and
# whether the tools agree on the set of repeated values. Exits with 1 when they do not.
#
# usage: bench/compare.sh [--duckdb] [LINES] [RUNS]   (defaults: 10000000 lines, 3 runs)
# The list: LINES lines ending in CR LF, 6 to 30 lowercase letters each, drawn from 0.6 LINES
# distinct values, seeded (the list the window benchmark loads), in a temporary folder.
# With --duckdb, also DuckDB on two threads (SELECT text ... GROUP BY text HAVING count(*) > 1),
# installed from the npm registry (@duckdb/node-api) into ${XDG_CACHE_HOME:-~/.cache}/quorvel-bench,
# outside the repo; and checks once that the SQL in the README ("Beyond one machine") gives
# quorvel-find's rows exactly, in order.
#
# usage: bench/compare.sh --beyond [LINES] [RUNS]   (defaults: 50000000 lines, 3 runs)
# Beyond memory: quorvel-find --memory 128M against LC_ALL=C sort -S 128M -T DIR | uniq -d on
# LINES lines "k<random below 30,000,000>-<line % 7>" (about 12 bytes each, seeded). Checks
# that the spilled output is byte for byte the in-memory one, and sort's set of values too.
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/common.sh

beyond=0
duckdb=0
if [[ ${1:-} == --beyond ]]; then
    beyond=1
    shift
elif [[ ${1:-} == --duckdb ]]; then
    duckdb=1
    shift
fi
lines=${1:-$((beyond ? 50000000 : 10000000))}
runs=${2:-3}
install_missing time mawk
[[ -x build/bin/quorvel-find && -x build/bin/quorvel_bench && -x build/bin/floor ]] ||
    build_release >/dev/null

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
median() { sort -n | awk '{ v[NR] = $1 } END { print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }

# Runs each of the tools in turns, so that a busy moment of the machine does not fall on one
# tool only; then wall[tool] is its median wall time, rss[tool] its largest peak memory.
declare -A wall rss
time_tools() {
    local run tool
    for ((run = 1; run <= runs; ++run)); do
        for tool in "$@"; do
            /usr/bin/time -f "%e %M" -o "$work/$tool.time" \
                bash -c "${tool}_cmd \"\$1\"" _ "$list" >"$work/$tool.out"
            cat "$work/$tool.time" >>"$work/$tool.times"
        done
    done
    for tool in "$@"; do
        wall[$tool]=$(cut -d' ' -f1 "$work/$tool.times" | median)
        rss[$tool]=$(cut -d' ' -f2 "$work/$tool.times" | sort -n | tail -1)
    done
}

if ((beyond)); then
    list=$work/beyond.txt
    mawk -v n="$lines" 'BEGIN { srand(1); for (i = 0; i < n; ++i) printf "k%d-%d\n", int(rand() * 30000000), i % 7 }' >"$list"
    size=$(stat -c %s "$list")
    mkdir "$work/spill" "$work/sorting"
    export SPILL=$work/spill SORTING=$work/sorting
    # shellcheck disable=SC2317 # both run by name in time_tools
    spill_cmd() { build/bin/quorvel-find --lf --memory 128M --temp-dir "$SPILL" "$1"; }
    # shellcheck disable=SC2317
    sort_cmd() { LC_ALL=C sort -S 128M -T "$SORTING" "$1" | uniq -d; }
    export -f spill_cmd sort_cmd
    time_tools spill sort
    build/bin/quorvel-find --lf "$list" >"$work/memory.out"

    printf 'list: %d lines, %d bytes, %d runs each, %d cores\n\n' "$lines" "$size" "$runs" "$(nproc)"
    printf '%-40s %12s %14s\n' tool "median wall" "peak memory"
    awk -v w="${wall[spill]}" -v m="${rss[spill]}" 'BEGIN { printf "%-40s %10.2f s %11.0f MB\n", "quorvel-find --memory 128M", w, m / 1024 }'
    awk -v w="${wall[sort]}" -v m="${rss[sort]}" 'BEGIN { printf "%-40s %10.2f s %11.0f MB\n", "LC_ALL=C sort -S 128M -T DIR | uniq -d", w, m / 1024 }'
    echo
    awk -v f="${wall[spill]}" -v s="${wall[sort]}" -v r="${rss[spill]}" \
        'function verdict(ok) { return ok ? "ok" : "MISSED" }
        BEGIN {
            printf "quorvel-find / sort | uniq -d, wall: %.3f (at most 0.5: %s)\n", f / s, verdict(f / s <= 0.5)
            printf "quorvel-find peak memory:           %.0f MB (under 200 MB: %s)\n", r / 1024, verdict(r < 200 * 1024)
        }'
    LC_ALL=C sort -u "$work/memory.out" >"$work/memory.set"
    if cmp -s "$work/spill.out" "$work/memory.out" && cmp -s "$work/memory.set" "$work/sort.out"; then
        echo "agreement: the spilled output is the in-memory one byte for byte" \
            "($(wc -l <"$work/memory.out") rows); sort | uniq -d gives the same $(wc -l <"$work/sort.out") values"
    else
        echo "DISAGREEMENT: spilled and in-memory output or sort's values differ"
        exit 1
    fi
    exit 0
fi
list=$work/list.txt
QT_QPA_PLATFORM=offscreen XDG_RUNTIME_DIR=$work build/bin/quorvel_bench --write-list "$list" \
    --file-lines "$lines" 2>/dev/null
size=$(stat -c %s "$list")

# DuckDB through its Node API, kept outside the repo. duckdb.mjs LIST OUT QUERY: reads LIST into
# the table list(pos, text), pos counting lines from 0, and writes QUERY's rows to OUT.
if ((duckdb)); then
    cache=${XDG_CACHE_HOME:-$HOME/.cache}/quorvel-bench/duckdb
    if [[ ! -d $cache/node_modules/@duckdb/node-api ]]; then
        if ! command -v node >/dev/null || ! command -v npm >/dev/null; then
            install_missing nodejs npm
        fi
        mkdir -p "$cache"
        npm install --prefix "$cache" --no-audit --no-fund @duckdb/node-api >/dev/null
    fi
    cat >"$cache/duckdb.mjs" <<'JS'
import { DuckDBInstance } from '@duckdb/node-api';
const [list, out, query] = process.argv.slice(2);
const quote = (text) => `'${text.replaceAll("'", "''")}'`;
const instance = await DuckDBInstance.create(':memory:', { threads: '2' });
const db = await instance.connect();
await db.run(`CREATE TABLE lines AS SELECT text FROM read_csv(${quote(list)},
    columns = {'text': 'VARCHAR'}, header = false, delim = '\x01', quote = '', escape = '',
    auto_detect = false)`);
await db.run('CREATE VIEW list AS SELECT rowid AS pos, text FROM lines');
await db.run(`COPY (${query}) TO ${quote(out)} (FORMAT csv, HEADER false, QUOTE '')`);
JS
    export DUCKDB_SCRIPT=$cache/duckdb.mjs
    # The README's statement, as it stands there.
    exact_sql=$(awk '/^```sql$/ { on = 1; next } /^```$/ { on = 0 } on' README.md)
    export EXACT_SQL=${exact_sql%;}
fi

find_cmd() { build/bin/quorvel-find --lf "$1"; }
floor_cmd() { build/bin/floor "$1"; }
sort_cmd() { LC_ALL=C sort "$1" | uniq -d; }
mawk_cmd() { mawk 'c[$0]++%2==1' "$1"; }
duckdb_cmd() {
    node "$DUCKDB_SCRIPT" "$1" /dev/stdout \
        'SELECT text FROM list GROUP BY text HAVING count(*) > 1'
}
export -f find_cmd floor_cmd sort_cmd mawk_cmd duckdb_cmd
tools=(find floor sort mawk)
((duckdb)) && tools+=(duckdb)
declare -A label=([find]="quorvel-find --lf" [floor]="floor (read, cut, XXH3)"
                  [sort]="LC_ALL=C sort | uniq -d" [mawk]="mawk 'c[\$0]++%2==1'"
                  [duckdb]="DuckDB, 2 threads")

time_tools "${tools[@]}"

printf 'list: %d lines, %d bytes, %d runs each, %d cores\n\n' "$lines" "$size" "$runs" "$(nproc)"
printf '%-26s %12s %14s %10s\n' tool "median wall" "peak memory" "/ file"
for tool in "${tools[@]}"; do
    awk -v n="${label[$tool]}" -v w="${wall[$tool]}" -v m="${rss[$tool]}" -v s="$size" \
        'BEGIN { printf "%-26s %10.2f s %11.0f MB %10.2f\n", n, w, m / 1024, m * 1024 / s }'
done
echo
awk -v f="${wall[find]}" -v l="${wall[floor]}" -v s="${wall[sort]}" -v m="${wall[mawk]}" \
    -v d="${wall[duckdb]:-0}" -v r="${rss[find]}" -v z="$size" \
    'function verdict(ok) { return ok ? "ok" : "MISSED" }
    BEGIN {
        printf "quorvel-find / floor, wall:         %.3f (at most 4: %s)\n", f / l, verdict(f / l <= 4)
        printf "quorvel-find / sort | uniq -d, wall: %.3f (at most 0.10: %s)\n", f / s, verdict(f / s <= 0.10)
        printf "quorvel-find / mawk, wall:          %.3f\n", f / m
        if (d > 0)
            printf "quorvel-find / DuckDB, wall:        %.3f\n", f / d
        printf "quorvel-find memory / file size:    %.2f (at most 2.2: %s)\n", r * 1024 / z, verdict(r * 1024 / z <= 2.2)
    }'

# The other tools' rows end in CR LF as the lines did (DuckDB's and quorvel-find --lf's in LF).
set_tools=(find sort mawk)
((duckdb)) && set_tools+=(duckdb)
for tool in "${set_tools[@]}"; do
    tr -d '\r' <"$work/$tool.out" | LC_ALL=C sort -u >"$work/$tool.set"
done
values=$(wc -l <"$work/find.set")
for tool in "${set_tools[@]}"; do
    if ! cmp -s "$work/find.set" "$work/$tool.set"; then
        echo "DISAGREEMENT: ${label[$tool]} reports $(wc -l <"$work/$tool.set") repeated values," \
            "quorvel-find $values"
        exit 1
    fi
done
echo "agreement: ${#set_tools[@]} tools report the same $values repeated values" \
    "(quorvel-find $(wc -l <"$work/find.out") rows, mawk $(wc -l <"$work/mawk.out"))"
if ((duckdb)); then
    node "$DUCKDB_SCRIPT" "$list" "$work/exact.out" "$EXACT_SQL"
    if cmp -s "$work/exact.out" "$work/find.out"; then
        echo "agreement: the README's SQL on DuckDB gives quorvel-find's rows byte for byte"
    else
        echo "DISAGREEMENT: the README's SQL on DuckDB and quorvel-find give different rows"
        exit 1
    fi
fi
