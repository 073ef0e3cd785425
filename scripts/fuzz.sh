#!/usr/bin/env bash
# Runs every libFuzzer target (or those named) for a given time each, starting
# from its committed seed corpus in fuzz/corpus/<target>/. New inputs go to
# <build>/fuzz-work/<target>/ (the seeds are never changed); a crash stops the
# run and leaves its input in <build>/fuzz-artifacts/ -- fix the fault, then
# copy that input into the seed corpus so that it stays a regression case.
# Usage: scripts/fuzz.sh [seconds-per-target] [build-dir] [target...]
# The build is the sanitizer build (scripts/sanitize.sh makes it), or any
# build configured with -DBRELLIUM_FUZZ=ON and clang.
set -euo pipefail
here="$(cd "$(dirname "$0")/.." && pwd)"
seconds="${1:-60}"
build="${2:-$here/build-asan}"
shift 2 || shift $#
targets=("$@")
if [ ${#targets[@]} -eq 0 ]; then
    for d in "$here"/fuzz/corpus/*/; do
        targets+=("$(basename "$d")")
    done
fi
[ -x "$build/fuzz/${targets[0]}" ] || cmake --build "$build" -j"$(nproc)"
# Absolute: targets that make a simulated device change their working directory.
build="$(cd "$build" && pwd)"
source "$here/scripts/sanitizer-env.sh" ""
artifacts="$build/fuzz-artifacts"
mkdir -p "$artifacts"
status=0
summary=()
for t in "${targets[@]}"; do
    work="$build/fuzz-work/$t"
    mkdir -p "$work"
    log="$build/fuzz-work/$t.log"
    echo "== $t: ${seconds}s"
    # A fixed seed: the same corpus and time give (nearly) the same run.
    if "$build/fuzz/$t" -seed=1 -max_total_time="$seconds" -timeout=20 -rss_limit_mb=2560 \
        -print_final_stats=1 -artifact_prefix="$artifacts/$t-" \
        "$work" "$here/fuzz/corpus/$t" >"$log" 2>&1; then
        runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log")
        corpus=$(find "$work" "$here/fuzz/corpus/$t" -type f | wc -l)
        summary+=("$t: ${runs:-?} inputs run, corpus $corpus")
    else
        status=1
        summary+=("$t: FAILED (see $log)")
        tail -n 60 "$log"
    fi
done
echo "== fuzzing summary"
printf '%s\n' "${summary[@]}"
exit $status
