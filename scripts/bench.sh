#!/usr/bin/env bash
# Builds the project and runs every benchmark in bench/ (not part of the tests).
# Usage: scripts/bench.sh [build-dir]
set -euo pipefail
here="$(cd "$(dirname "$0")/.." && pwd)"
build="${1:-$here/build}"
cmake -S "$here" -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$build" -j4
status=0
for b in "$build"/bench/bench_*; do
    [ -x "$b" ] || continue
    echo "== $(basename "$b")"
    "$b" || status=1
done
exit $status
