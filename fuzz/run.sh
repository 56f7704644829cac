#!/usr/bin/env bash
# Builds the fuzz targets with clang (libFuzzer, ASan, UBSan) in build-fuzz/ and runs each
# for SECONDS, starting from the seeds in fuzz/corpus/. New inputs the fuzzer keeps go to
# build-fuzz/corpus/; a finding is written to build-fuzz/ as crash-* and stops its target.
#   fuzz/run.sh SECONDS [TARGET...]
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/common.sh

seconds=${1:?usage: fuzz/run.sh SECONDS [TARGET...]}
shift
install_missing cmake make clang libclang-rt-14-dev qt6-base-dev libxxhash-dev pkg-config

cmake -S . -B build-fuzz -DCMAKE_BUILD_TYPE=RelWithDebInfo -DQUORVEL_FUZZ=ON \
    -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ "$(warnings_as_errors)" >/dev/null
targets=("$@")
if (( ${#targets[@]} == 0 )); then
    mapfile -t targets < <(sed -n 's/^quorvel_fuzzer(\(.*\))$/\1/p' fuzz/CMakeLists.txt)
fi
cmake --build build-fuzz -j "$(nproc)" --target "${targets[@]}"

status=0
for t in "${targets[@]}"; do
    mkdir -p "build-fuzz/corpus/$t" "fuzz/corpus/$t"
    log="build-fuzz/$t.log"
    echo "== $t: ${seconds} s"
    if ! (cd build-fuzz && "bin/$t" -max_total_time="$seconds" -print_final_stats=1 \
            -timeout=20 -rss_limit_mb=4096 "corpus/$t" "../fuzz/corpus/$t") >"$log" 2>&1; then
        status=1
        echo "   FINDING: see $log"
        grep -m5 -E "check failed|ERROR|runtime error" "$log" | sed 's/^/   /' || true
    fi
    runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -1)
    echo "   executions: ${runs:-?}"
done
exit $status
