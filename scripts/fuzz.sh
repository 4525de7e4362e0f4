#!/usr/bin/env bash
# Builds the fuzz targets with clang (AddressSanitizer, UndefinedBehavior-
# Sanitizer, libFuzzer) in build-fuzz and runs each for the given seconds
# (default 600), one after the other, starting from the committed seeds in
# fuzz/corpus. New inputs go to build-fuzz/corpus, crashes to
# build-fuzz/artifacts. Prints per target: seconds, total executions,
# executions per second. Exit status 1 when a target found something.
#
#   scripts/fuzz.sh [seconds] [target...]
set -euo pipefail
cd "$(dirname "$0")/.."

seconds=${1:-600}
shift || true
targets=("$@")
if [ ${#targets[@]} -eq 0 ]; then
    targets=(unzip_archive instruction_file version_answer download_headers zip_tree
             package_signature delta)
fi

bash scripts/setup.sh
build=build-fuzz
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ \
    -DUPDATER_FUZZ=ON -DUPDATER_BUILD_TESTS=OFF >/dev/null
cmake --build "$build" -j2 --target "${targets[@]/#/fuzz_}"

# libFuzzer keeps every feature seen fewer times than this threshold in a
# list it searches once for each feature every execution hits. At the default
# of 255 a run of minutes never trims that list, and the search took a sixth
# of the zip tree target's time; at 16 it takes a fiftieth, with the same
# coverage.
rare_threshold=16
export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
status=0
# The corpus a target grows lies in memory while it runs (libFuzzer writes
# and deletes a file for every input it keeps or shrinks, and on the disk
# each new file took a fiftieth of the zip tree target's time), and is
# copied back to build-fuzz/corpus when it stops.
working=$(mktemp -d /dev/shm/fuzz-corpus-XXXXXX 2>/dev/null || mktemp -d)
trap 'rm -rf "$working"' EXIT
for target in "${targets[@]}"; do
    corpus=$build/corpus/$target
    artifacts=$build/artifacts/$target/
    mkdir -p "$corpus" "$artifacts"
    rm -rf "${working:?}/$target"
    cp -a "$corpus" "$working/$target"
    log=$build/fuzz-$target.log
    if "$build/fuzz/fuzz_$target" -max_total_time="$seconds" -timeout=25 -rss_limit_mb=2048 \
        -print_final_stats=1 -artifact_prefix="$artifacts" \
        -entropic_feature_frequency_threshold=$rare_threshold \
        "$working/$target" "fuzz/corpus/$target" >"$log" 2>&1; then
        verdict=clean
    else
        verdict="FOUND (see $log and $artifacts)"
        status=1
    fi
    rm -rf "$corpus"
    cp -a "$working/$target" "$corpus"
    runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -1)
    took=$(sed -n 's/^Done [0-9]* runs in \([0-9]*\) second.*/\1/p' "$log" | tail -1)
    rate=$(sed -n 's/^stat::average_exec_per_sec: *//p' "$log" | tail -1)
    echo "fuzz_$target: ${took:-?} s, ${runs:-?} executions, ${rate:-?} exec/s, $verdict"
done
exit $status
