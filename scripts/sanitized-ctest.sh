#!/usr/bin/env bash
# Runs CTest in a sanitizer build with every process's reports collected in
# <build>/sanitizer-reports; a report fails the run even when the test that
# started the process passed. Used by sanitize.sh and tsan.sh.
# Usage: scripts/sanitized-ctest.sh build-dir timeout-seconds [ctest arguments...]
set -euo pipefail
here="$(cd "$(dirname "$0")/.." && pwd)"
build="$(cd "$1" && pwd)" # absolute: processes in other folders report here too
timeout="$2"
shift 2
reports="$build/sanitizer-reports"
rm -rf "$reports"
mkdir -p "$reports"
source "$here/scripts/sanitizer-env.sh" "$reports"
status=0
(cd "$build" && ctest --output-on-failure -j"$(nproc)" --timeout "$timeout" "$@") || status=$?
if compgen -G "$reports/*" >/dev/null; then
    echo "== sanitizer reports:"
    for f in "$reports"/*; do
        echo "-- $f"
        cat "$f"
    done
    status=1
fi
exit $status
