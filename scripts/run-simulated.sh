#!/usr/bin/env bash
# Builds the clock and starts it on a simulated device. With a display it
# opens a 480x800 window; without one it serves the screen over VNC at
# 127.0.0.1:5900. Stop it with Ctrl-C, or: echo -n brellium:close | nc -u -w1 127.0.0.1 4445
# Sound goes to ALSA's null device; with --sound-files every prompt played is
# kept as a WAVE file under <root>/var/sound/ (prompt-<rate>-<format>.wav, then
# .0001, .0002, ...) for a person to listen to afterwards.
# Usage: scripts/run-simulated.sh [--sound-files] [root-folder]   (default: build/simroot)
set -euo pipefail
here="$(cd "$(dirname "$0")/.." && pwd)"
build="$here/build"
sound_files=0
if [ "${1:-}" = "--sound-files" ]; then sound_files=1; shift; fi
root="${1:-$build/simroot}"
bash "$here/scripts/install-deps.sh"
cmake -S "$here" -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$build" -j"$(nproc)" --target brellium
bash "$here/scripts/simroot.sh" "$root" 2
root="$(cd "$root" && pwd)"   # the program runs in a folder of its own
export CLOCK_ROOT="$root"
# The project's own ALSA configuration replaces the host's: no sound card is
# needed and the host's speakers stay quiet.
if [ "$sound_files" = 1 ]; then
    mkdir -p "$root/var/sound"
    sed -e "s|@ALSA_CAPTURE_FILE@|$root/var/sound/prompt-%r-%f.wav|" -e "s|@ALSA_CAPTURE_FORMAT@|wav|" \
        "$here/scripts/alsa/file.conf.in" > "$root/var/sound/alsa.conf"
    export ALSA_CONFIG_PATH="$root/var/sound/alsa.conf"
    echo "Voice prompts played are kept in $root/var/sound/"
else
    export ALSA_CONFIG_PATH="$here/scripts/alsa/null.conf"
fi
if [ -z "${DISPLAY:-}${WAYLAND_DISPLAY:-}" ]; then
    export QT_QPA_PLATFORM="vnc:size=480x800:addr=127.0.0.1:port=5900"
    echo "No display: the clock's screen is served by VNC at 127.0.0.1:5900 (for example: vncviewer 127.0.0.1:5900)."
fi
echo "Simulated root: $root   board commands: $root/var/log/board-commands"
cd "$root/app/work"
exec "$build/brellium"
