#!/usr/bin/env bash
# Builds the clock and starts it on a simulated device. With a display it
# opens a 480x800 window; without one it serves the screen over VNC at
# 127.0.0.1:5900. Stop it with Ctrl-C, or: echo -n brellium:close | nc -u -w1 127.0.0.1 4445
# Usage: scripts/run-simulated.sh [root-folder]   (default: build/simroot)
set -euo pipefail
here="$(cd "$(dirname "$0")/.." && pwd)"
build="$here/build"
root="${1:-$build/simroot}"
bash "$here/scripts/install-deps.sh"
cmake -S "$here" -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$build" -j"$(nproc)" --target brellium
bash "$here/scripts/simroot.sh" "$root" 2
export CLOCK_ROOT="$root"
if [ -z "${DISPLAY:-}${WAYLAND_DISPLAY:-}" ]; then
    export QT_QPA_PLATFORM="vnc:size=480x800:addr=127.0.0.1:port=5900"
    echo "No display: the clock's screen is served by VNC at 127.0.0.1:5900 (for example: vncviewer 127.0.0.1:5900)."
fi
echo "Simulated root: $root   board commands: $root/var/log/board-commands"
cd "$root/app/work"
exec "$build/brellium"
