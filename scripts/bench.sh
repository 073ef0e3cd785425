#!/usr/bin/env bash
# Builds the clock in release mode in a build folder of its own and runs the
# benchmarks in bench/ (never part of the tests). Each benchmark's full report
# goes to <build>/bench-output/<name>.txt; the headline figures of all of them
# are printed at the end as one table: figure, value, reference (measured in
# the same run), ratio (value / reference), target, and whether it is met.
# Usage: scripts/bench.sh [--build DIR] [benchmark ...]
#   --build DIR   build folder (default: build-bench beside build/)
#   benchmark     names to run (default: all), e.g. bench_scale bench_program
set -euo pipefail
here="$(cd "$(dirname "$0")/.." && pwd)"
build="$here/build-bench"
if [ "${1:-}" = "--build" ]; then build="$2"; shift 2; fi
only=("$@")

mkdir -p "$build"
if ! { cmake -S "$here" -B "$build" -DCMAKE_BUILD_TYPE=Release && cmake --build "$build" -j4 --target benchmarks; } \
    >"$build/bench-build.log" 2>&1; then
    tail -n 40 "$build/bench-build.log"
    echo "The benchmarks did not build (see $build/bench-build.log)." >&2
    exit 2
fi

out="$build/bench-output"
mkdir -p "$out"
# The headline benchmarks first, in the order of the table; then the rest.
order=(bench_arrival bench_scale bench_program)
for b in "$build"/bench/bench_*; do
    [ -f "$b" ] && [ -x "$b" ] || continue
    name="$(basename "$b")"
    [[ " ${order[*]} " == *" $name "* ]] || order+=("$name")
done

failed=0
ran=()
for name in "${order[@]}"; do
    b="$build/bench/$name"
    [ -x "$b" ] || continue
    if [ ${#only[@]} -gt 0 ] && [[ " ${only[*]} " != *" $name "* ]]; then continue; fi
    printf '== %s ... ' "$name" >&2
    start=$(date +%s)
    if (cd "$out" && "$b") >"$out/$name.txt" 2>&1; then result=ok; else result="FAILED ($?)"; failed=1; fi
    secs=$(( $(date +%s) - start ))
    echo "$result, ${secs} s" >&2
    ran+=("$name|$result|$secs")
done

echo
echo "Benchmarks on $(uname -m), $(nproc) cores, $(date '+%Y-%m-%d %H:%M'); release build in $build"
echo
for entry in "${ran[@]}"; do
    IFS='|' read -r name _ _ <<<"$entry"
    grep -P '^@row\t' "$out/$name.txt" || true
done | awk -F'\t' '
    BEGIN { head[1] = "figure"; head[2] = "value"; head[3] = "reference"; head[4] = "ratio"; head[5] = "target"; head[6] = "met" }
    { n++; for (i = 2; i <= 7; i++) { cell[n, i - 1] = $i; if (length($i) > w[i - 1]) w[i - 1] = length($i) } }
    END {
        for (i = 1; i <= 6; i++) if (length(head[i]) > w[i]) w[i] = length(head[i])
        line = "|"; rule = "|"
        for (i = 1; i <= 6; i++) { line = line sprintf(" %-*s |", w[i], head[i]); rule = rule sprintf("%s|", sep(w[i] + 2)) }
        print line; print rule
        for (r = 1; r <= n; r++) {
            line = "|"
            for (i = 1; i <= 6; i++) line = line sprintf(" %-*s |", w[i], cell[r, i])
            print line
            if (cell[r, 6] == "NO") missed++
        }
        printf "\n%d figures, %d targets missed\n", n, missed
    }
    function sep(k,   s) { s = ""; while (k-- > 0) s = s "-"; return s }'
echo
echo "Full reports in $out:"
for entry in "${ran[@]}"; do
    IFS='|' read -r name result secs <<<"$entry"
    printf '  %-26s %s, %s s\n' "$name.txt" "$result" "$secs"
done
exit $failed
