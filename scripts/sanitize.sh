#!/usr/bin/env bash
# Builds the clock with AddressSanitizer and UndefinedBehaviorSanitizer (clang,
# -O1, with the fuzz targets, which share this build) and runs the test suites
# there. Every process the tests start (the program, the peers) writes its
# reports into <build>/sanitizer-reports, so a report from a child whose exit
# status no test looks at still fails the run.
# Usage: scripts/sanitize.sh [build-dir] [ctest arguments...]
set -euo pipefail
here="$(cd "$(dirname "$0")/.." && pwd)"
build="${1:-$here/build-asan}"
shift || true
bash "$here/scripts/install-deps.sh"
# -O1 and line tables only: the build costs about what the normal one does and
# the stacks still name file and line. The benchmarks are left out.
cmake -S "$here" -B "$build" -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    "-DCMAKE_CXX_FLAGS_RELWITHDEBINFO=-O1 -gline-tables-only -DNDEBUG" \
    -DBRELLIUM_SANITIZE=ON -DBRELLIUM_FUZZ=ON -DBRELLIUM_BENCH=OFF
cmake --build "$build" -j"$(nproc)"

exec bash "$here/scripts/sanitized-ctest.sh" "$build" 600 "$@"
