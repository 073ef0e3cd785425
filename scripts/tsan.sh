#!/usr/bin/env bash
# Builds the clock with ThreadSanitizer (clang, -O1) and runs the threaded
# integration suites there. Reports go to <build>/sanitizer-reports and fail
# the run. Usage: scripts/tsan.sh [build-dir] [ctest arguments...]
# (default: every suite labelled integration)
set -euo pipefail
here="$(cd "$(dirname "$0")/.." && pwd)"
build="${1:-$here/build-tsan}"
shift || true
args=("$@")
# The suites that start a process (the program, a peer, a power-cut child)
# run here too: tests/tsan/vforkasfork.cpp lets clang 14's sanitizer survive
# the way Qt starts a child.
[ ${#args[@]} -gt 0 ] || args=(-L integration)
bash "$here/scripts/install-deps.sh"
cmake -S "$here" -B "$build" -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    "-DCMAKE_CXX_FLAGS_RELWITHDEBINFO=-O1 -gline-tables-only -DNDEBUG" \
    -DBRELLIUM_TSAN=ON -DBRELLIUM_BENCH=OFF
# Only the suites that run here (and what they depend on) are built.
suites=$(cd "$build" && ctest -N "${args[@]}" | sed -n 's/^ *Test *#[0-9]*: *//p')
# shellcheck disable=SC2086
cmake --build "$build" -j"$(nproc)" --target $suites

exec bash "$here/scripts/sanitized-ctest.sh" "$build" 900 "${args[@]}"
