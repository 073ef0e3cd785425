#!/usr/bin/env bash
# Builds the clock and starts it on a simulated device, with the inner
# ring-reader module peer on <root>/dev/ttyS3. With a display it opens a
# 480x800 window; without one it serves the screen over VNC at
# 127.0.0.1:5900. A small console on this terminal drives the device (type
# "help"); "quit" or Ctrl-D stops everything cleanly.
# Sound goes to ALSA's null device; with --sound-files every prompt played is
# kept as a WAVE file under <root>/var/sound/ (prompt-<rate>-<format>.wav, then
# .0001, .0002, ...) for a person to listen to afterwards.
# The modem peer of the configured modem family answers on that family's node;
# BRELLIUM_CLOUD_ENDPOINT=host:port bridges its socket to a cloud endpoint.
# Usage: scripts/run-simulated.sh [--sound-files] [root-folder]   (default: build/simroot)
set -euo pipefail
here="$(cd "$(dirname "$0")/.." && pwd)"
build="$here/build"
sound_files=0
if [ "${1:-}" = "--sound-files" ]; then sound_files=1; shift; fi
root="${1:-$build/simroot}"
bash "$here/scripts/install-deps.sh"
cmake -S "$here" -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$build" -j"$(nproc)" --target brellium brellium_modulepeer brellium_modempeer
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
close_port="${BRELLIUM_CLOSE_PORT:-4445}"
peer="$build/tests/sim/brellium_modulepeer"
mains="$root/sys/class/gpio/gpio51/value"
logs="$root/var/log"
mkdir -p "$logs"

"$peer" --root "$root" >"$logs/modulepeer.log" 2>&1 &
peer_pid=$!
for _ in $(seq 50); do
    "$peer" --root "$root" --send stats >/dev/null 2>&1 && break
    sleep 0.1
done

modem_pid="$(bash "$here/scripts/modempeer.sh" "$build" "$root" "${BRELLIUM_CLOUD_ENDPOINT:-}")"

(cd "$root/app/work" && exec "$build/brellium") >"$logs/clock.log" 2>&1 &
clock_pid=$!

order() { "$peer" --root "$root" --send "$*" || true; }

# Registers a ringed pigeon, not basketed, so that its ring at the landing
# antenna is a training arrival (until the pigeon screens do this). Both
# values are checked before they reach SQL.
register() {
    local ring="$1" assoc="$2"
    [[ "$ring" =~ ^[0-9A-Fa-f]{8}$ ]] || { echo "a ring is 8 hex digits"; return; }
    [[ "$assoc" =~ ^[A-Za-z0-9-]{1,32}$ ]] || { echo "an association number is letters, digits and -"; return; }
    ring="${ring^^}"
    sqlite3 -cmd ".timeout 5000" "$root/app/work/data_20200505.db3" \
        "insert or ignore into Pigeon(AssocNum,EringNum) values('$assoc','$ring');
         insert or ignore into Record(AssocNum,EringNum,RaceCode,MarkTime) values('$assoc','$ring','train',0);" \
        && echo "ok pigeon $assoc wears $ring"
}

stop_all() {
    if kill -0 "$clock_pid" 2>/dev/null; then
        echo "Closing the clock..."
        printf 'brellium:close' >"/dev/udp/127.0.0.1/$close_port" || true
        for _ in $(seq 300); do kill -0 "$clock_pid" 2>/dev/null || break; sleep 0.1; done
    fi
    if kill -0 "$peer_pid" 2>/dev/null; then
        "$peer" --root "$root" --send quit >/dev/null 2>&1 || kill "$peer_pid" 2>/dev/null || true
    fi
    kill "$modem_pid" 2>/dev/null || true
    wait 2>/dev/null || true
}
trap stop_all EXIT

cat <<EOF
Simulated root: $root
Clock output: $logs/clock.log   module peer: $logs/modulepeer.log
Modem peer: $logs/modem-peer.log   SMS it received: $logs/modem-sms
Board commands (recorded, never run): $logs/board-commands
Type "help" for the console's commands.
EOF

help() {
    cat <<'EOF'
  ring <8 hex digits> [uid]   present a ring at a landing antenna
  pigeon <ring> <assocNum>    register a ringed pigeon (its ring then arrives)
  channels <n>                the module reports n landing antennas
  channel <index> error|ok    put a channel in error, or clear it
  module-clock on|off         module type with (4B31) or without (4A31) a clock
  mains off|on                cut or restore mains power (GPIO 51)
  stats                       what the module has been asked so far
  quit                        stop the clock and the module peer
EOF
}

while kill -0 "$clock_pid" 2>/dev/null; do
    printf '> '
    # Wake now and then, so that a clock that powered itself off ends the console.
    line=""
    until read -r -t 1 line; do
        status=$?
        if [ "$status" -le 128 ]; then line="quit"; break; fi # end of input
        kill -0 "$clock_pid" 2>/dev/null || break 2
    done
    set -- $line
    case "${1:-}" in
        "") ;;
        help) help ;;
        ring) [ -n "${2:-}" ] && order tag "$2" "${3:-}" || echo "ring needs a ring number" ;;
        pigeon) [ -n "${3:-}" ] && register "$2" "$3" || echo "pigeon needs a ring and an association number" ;;
        channels) order channels "${2:-1}" ;;
        channel) order channel "${2:-0}" "${3:-error}" ;;
        module-clock) [ "${2:-on}" = on ] && order type 4B31 || order type 4A31 ;;
        mains)
            case "${2:-}" in
                off) echo 0 >"$mains"; echo "Mains cut: the clock powers off within about 5 s." ;;
                on) echo 1 >"$mains"; echo "Mains restored." ;;
                *) echo "mains off|on" ;;
            esac ;;
        stats) order stats ;;
        quit|exit) break ;;
        *) echo "Unknown command; type help." ;;
    esac
done
if ! kill -0 "$clock_pid" 2>/dev/null; then
    echo
    echo "The clock has ended (see $logs/clock.log)."
fi
