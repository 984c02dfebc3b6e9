#!/bin/bash
# make fuzz: builds the libFuzzer targets with clang (AddressSanitizer + UBSan) in build-fuzz and
# runs each one for a bounded time.
#
# Environment:
#   FUZZ_SECONDS   seconds per target (default 60)
#   FUZZ_TARGETS   which targets (default: all of fuzz/targets.cmake)
#   FUZZ_BUILD     build folder (default build-fuzz)
#   FUZZ_JOBS      build jobs (default 2)
#   FUZZ_WORLD     data set whose level-2 records join the record seeds (default build/world)
#   FUZZ_PARALLEL  set to run the targets at the same time instead of one after the other
#
# Each target starts from its seeds (written afresh by quorvik-fuzz-seeds, valid files the
# project's own writers make), the regression corpus files of its format and the inputs it found
# in earlier runs (FUZZ_BUILD/corpus/TARGET, kept between runs). A crash, a leak, a time-out or an
# out-of-memory stops the target; the input is saved as FUZZ_BUILD/artifacts/TARGET/* and the
# script ends with status 1 after the remaining targets ran. To keep a crash as a regression
# input, copy it to fuzz/regressions/TARGET/ (the test build replays that folder).
set -u
ROOT=$(cd "$(dirname "$0")/.." && pwd)
BUILD=${FUZZ_BUILD:-$ROOT/build-fuzz}
SECONDS_EACH=${FUZZ_SECONDS:-60}
JOBS=${FUZZ_JOBS:-2}
TARGETS=${FUZZ_TARGETS:-$(sed -n 's/^set(QUORVIK_FUZZ_TARGETS \(.*\))$/\1/p' "$ROOT/fuzz/targets.cmake")}

command -v clang++ >/dev/null || { echo "fuzz: clang++ is missing" >&2; exit 2; }
CC=clang CXX=clang++ cmake -S "$ROOT/fuzz" -B "$BUILD" -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null ||
    exit 2
cmake --build "$BUILD" -j "$JOBS" || exit 2

rm -rf "$BUILD/seeds" "$BUILD/corpus-files"
# Records of the default data set (make data), when there is one, seed the record target too.
WORLD=${FUZZ_WORLD:-$ROOT/build/world}
if [ -d "$WORLD/ezw_data" ]; then
    "$BUILD/quorvik-fuzz-seeds" "$BUILD/seeds" "$WORLD" >/dev/null || exit 2
else
    "$BUILD/quorvik-fuzz-seeds" "$BUILD/seeds" >/dev/null || exit 2
fi
"$BUILD/quorvik-corpus" "$BUILD/corpus-files" >/dev/null || exit 2

# Longest input per target: the tile files of level 2 are 9 KB at the least and the seeds up to
# 40 KB; a record needs room for two 4096-byte streams.
max_len() {
    case $1 in
        raw_image) echo 16384 ;;
        tile_file) echo 65536 ;;
        qvk_file) echo 32768 ;;
        *) echo 16384 ;;
    esac
}

# Runs one target; its summary line goes to FUZZ_BUILD/fuzz-TARGET.summary.
run_target() {
    local target=$1
    local corpus="$BUILD/corpus/$target" artifacts="$BUILD/artifacts/$target"
    mkdir -p "$corpus" "$artifacts"
    local inputs=("$corpus" "$BUILD/seeds/$target")
    [ -d "$BUILD/corpus-files/$target" ] && inputs+=("$BUILD/corpus-files/$target")
    [ -d "$ROOT/fuzz/regressions/$target" ] && inputs+=("$ROOT/fuzz/regressions/$target")
    local log="$BUILD/fuzz-$target.log"
    echo "fuzz: $target for $SECONDS_EACH s (log: $log)"
    "$BUILD/fuzz_$target" -max_total_time="$SECONDS_EACH" -max_len="$(max_len "$target")" \
        -timeout=10 -rss_limit_mb=2048 -print_final_stats=1 -dict="$ROOT/fuzz/$target.dict" \
        -artifact_prefix="$artifacts/" "${inputs[@]}" >"$log" 2>&1
    local rc=$?
    local runs speed rss files kb cov
    runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log")
    speed=$(sed -n 's/^stat::average_exec_per_sec: *//p' "$log")
    rss=$(sed -n 's/^stat::peak_rss_mb: *//p' "$log")
    files=$(find "$corpus" -type f | wc -l)
    kb=$(du -sk "$corpus" | cut -f1)
    cov=$(grep -o 'cov: [0-9]*' "$log" | tail -n 1)
    local line="$target: ${runs:-?} runs, ${speed:-?} exec/s, $cov, corpus $files files ($kb kB), peak RSS ${rss:-?} MB"
    if [ "$rc" != 0 ]; then
        line="$line -- FAILED (status $rc), see $log and $artifacts"
        grep -m 5 -E "ERROR|invariant broken|SUMMARY" "$log" | sed 's/^/    /'
    fi
    echo "fuzz: $line"
    echo "$line" > "$BUILD/fuzz-$target.summary"
    return $rc
}

status=0
if [ -n "${FUZZ_PARALLEL:-}" ]; then
    pids=()
    for target in $TARGETS; do
        run_target "$target" &
        pids+=($!)
    done
    for pid in "${pids[@]}"; do wait "$pid" || status=1; done
else
    for target in $TARGETS; do run_target "$target" || status=1; done
fi
echo
echo "fuzz summary ($SECONDS_EACH s per target):"
for target in $TARGETS; do sed 's/^/  /' "$BUILD/fuzz-$target.summary"; done
exit $status
