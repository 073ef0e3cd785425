#!/usr/bin/env bash
# The simulated device: builds what is missing, makes (or reuses) a simulated
# root, starts every peer as a process of its own and then the clock, with a
# console on this terminal (type "help"; "quit" or Ctrl-D stops everything it
# started, and nothing else). With a display the clock opens a 480x800
# window; without one it serves its screen over VNC at 127.0.0.1:5900.
#
# The root keeps its database from run to run (a fancier's data survives a
# restart); --fresh starts it over. A new root gets a loft with a few pigeons
# wearing rings, set up through the clock's own storage code (brellium-simdb).
# Every peer records what crossed its link in a file under <root>/var/log/,
# its pseudo-terminal is linked under <root>/dev/, and nothing is written
# outside the build tree and the root.
#
# Peers: inner ring-reader module on /dev/ttyS3; club router with connector
# reader and printer on /dev/ttyS2, or the PC program in its place ("plug");
# modem of the configured type, its socket bridged to the cloud endpoint.
#
# Usage: scripts/run-simulated.sh [--fresh] [--sound-files] [--no-build] [--build DIR] [root]
#   root          the simulated root folder (default: <build>/simroot)
#   --build DIR   the build folder whose programs run (default: build/ in the source tree)
#   --fresh       start the root over (only a folder this script made)
#   --sound-files keep every voice prompt played as a WAVE file in <root>/var/sound/
#   --no-build    use the build as it is (no package check, no build)
# Environment: BRELLIUM_CLOSE_PORT (default 4445) moves the close port;
# BRELLIUM_VNC_PORT (default 5900) moves the VNC port;
# BRELLIUM_CLOUD_ENDPOINT=host:port bridges the modem to an endpoint of your
# own instead of the cloud peer; QT_QPA_PLATFORM, when set, is used as it is.
set -euo pipefail
here="$(cd "$(dirname "$0")/.." && pwd)"
build="$here/build"
fresh=0
sound_files=0
no_build=0
root=""
while [ $# -gt 0 ]; do
    arg="$1"
    shift
    case "$arg" in
        --build)
            [ $# -gt 0 ] || { echo "--build needs a folder" >&2; exit 2; }
            build="$(cd "$1" && pwd)" || exit 2
            shift ;;
        --fresh) fresh=1 ;;
        --sound-files) sound_files=1 ;;
        --no-build) no_build=1 ;;
        -h|--help) sed -n '2,/^set -euo/p' "$0" | sed -e '$d' -e 's/^# \{0,1\}//'; exit 0 ;;
        -*) echo "unknown option $arg (see --help)" >&2; exit 2 ;;
        *) root="$arg" ;;
    esac
done
root="${root:-$build/simroot}"
marker=".brellium-simroot"

# --fresh deletes only what this script made: a folder carrying its marker.
mkdir -p "$root"
root="$(cd "$root" && pwd)"
if [ "$root" = / ]; then echo "the root folder cannot be /" >&2; exit 2; fi
# A root made by an earlier version of this script has a simulated board.
if [ -n "$(ls -A "$root")" ] && [ ! -f "$root/$marker" ] && ! grep -qs Ombrixa "$root/proc/version"; then
    echo "$root is not empty and was not made by this script; choose another folder" >&2
    exit 2
fi
touch "$root/$marker"
# One simulated device per root: the marker is its lock.
exec 9>> "$root/$marker"
if ! flock -n 9; then echo "Another simulated device runs on $root." >&2; exit 2; fi
if [ "$fresh" = 1 ]; then
    find "$root" -mindepth 1 ! -path "$root/$marker" -delete
fi

targets=(brellium brellium_modulepeer brellium_modempeer brellium-clubpeer brellium-pcpeer brellium-simdb brellium-pcportpeer)
if grep -q brellium_cloudpeer "$here/tests/sim/CMakeLists.txt"; then targets+=(brellium_cloudpeer); fi
if [ "$no_build" = 0 ]; then
    bash "$here/scripts/install-deps.sh"
    cmake -S "$here" -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
    cmake --build "$build" -j"$(nproc)" --target "${targets[@]}"
fi

bash "$here/scripts/simroot.sh" "$root" 2
export CLOCK_ROOT="$root"
logs="$root/var/log"
run="$root/run"
mkdir -p "$logs" "$run" "$root/var/cache" "$root/var/config" "$root/var/data"
# Caches and settings of the libraries (fonts, GL) stay inside the root too.
export XDG_CACHE_HOME="$root/var/cache" XDG_CONFIG_HOME="$root/var/config" XDG_DATA_HOME="$root/var/data"
if [ -z "${XDG_RUNTIME_DIR:-}" ]; then
    mkdir -p -m 0700 "$run/xdg"
    export XDG_RUNTIME_DIR="$run/xdg"
fi
# Links left by a run that was killed would point at pseudo-terminals that
# are no longer ours.
find "$root/dev" -maxdepth 1 -type l -delete
simdb() { (cd "$root/app/work" && "$build/brellium-simdb" "$@"); }
simdb setup

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
close_port="${BRELLIUM_CLOSE_PORT:-4445}"
mains="$root/sys/class/gpio/gpio51/value"

# Every process started here, by name; only these are ever stopped.
declare -A pids=()
declare -A peer_logs=()
declare -A reported=()
: > "$run/pids"
started() { pids[$1]=$2; peer_logs[$1]=$3; echo "$1 $2" >> "$run/pids"; }

# Without a display the clock draws on a virtual X display that a VNC server
# shares at 127.0.0.1:$vnc_port, so that a viewer can look, click and type.
vnc_port="${BRELLIUM_VNC_PORT:-5900}"
if [ -z "${QT_QPA_PLATFORM:-}" ] && [ -z "${DISPLAY:-}${WAYLAND_DISPLAY:-}" ]; then
    if command -v Xvfb >/dev/null && command -v x11vnc >/dev/null; then
        display_no=90
        while [ -e "/tmp/.X11-unix/X$display_no" ] || [ -e "/tmp/.X$display_no-lock" ]; do
            display_no=$((display_no + 1))
        done
        Xvfb ":$display_no" -screen 0 480x800x24 -nolisten tcp > "$logs/xvfb.log" 2>&1 < /dev/null &
        started xvfb $! "$logs/xvfb.log"
        for _ in $(seq 100); do
            [ -e "/tmp/.X11-unix/X$display_no" ] && break
            sleep 0.1
        done
        x11vnc -display ":$display_no" -rfbport "$vnc_port" -localhost -forever -shared -nopw -noxdamage \
            > "$logs/x11vnc.log" 2>&1 < /dev/null &
        started vnc $! "$logs/x11vnc.log"
        export DISPLAY=":$display_no" QT_QPA_PLATFORM=xcb
        echo "No display: the clock's screen is served by VNC at 127.0.0.1:$vnc_port; a viewer can click and type (for example: vncviewer 127.0.0.1:$vnc_port)."
    else
        export QT_QPA_PLATFORM="vnc:size=480x800:addr=127.0.0.1:port=$vnc_port"
        echo "No display and no Xvfb/x11vnc: the screen is shown by VNC at 127.0.0.1:$vnc_port, but clicks do not reach it (run scripts/install-deps.sh)."
    fi
fi

# Waits (bounded) until a file holds a line matching a pattern.
wait_for_line() {
    local file="$1" pattern="$2"
    for _ in $(seq 100); do
        grep -q -- "$pattern" "$file" 2>/dev/null && return 0
        sleep 0.1
    done
    return 1
}

# The inner ring-reader module, with its orders on a local socket.
module_peer="$build/tests/sim/brellium_modulepeer"
"$module_peer" --root "$root" > "$logs/modulepeer.log" 2>&1 < /dev/null 9>&- &
started module $! "$logs/modulepeer.log"
for _ in $(seq 100); do
    "$module_peer" --root "$root" --send stats >/dev/null 2>&1 && break
    sleep 0.1
done

# The club port's two possible partners, each reading its console from a
# pipe this script holds open. /dev/ttyS2 points at the one plugged in.
rm -f "$run/clubpeer.in" "$run/pcpeer.in"
mkfifo "$run/clubpeer.in" "$run/pcpeer.in"
exec 7<>"$run/clubpeer.in" 8<>"$run/pcpeer.in"
"$build/brellium-clubpeer" --link "$root/dev/club-router" < "$run/clubpeer.in" > "$logs/clubpeer.log" 2>&1 7>&- 8>&- 9>&- &
started club $! "$logs/clubpeer.log"
"$build/brellium-pcpeer" --link "$root/dev/pc-program" < "$run/pcpeer.in" > "$logs/pcpeer.log" 2>&1 7>&- 8>&- 9>&- &
started pc $! "$logs/pcpeer.log"
wait_for_line "$logs/clubpeer.log" '^line ' || echo "The club peer did not start (see $logs/clubpeer.log)."
wait_for_line "$logs/pcpeer.log" '^line ' || echo "The PC peer did not start (see $logs/pcpeer.log)."
# The PC program on the PC port (/dev/ttyS1), which receives the export.
"$build/brellium-pcportpeer" --link "$root/dev/ttyS1" < /dev/null > "$logs/pcportpeer.log" 2>&1 7>&- 8>&- 9>&- &
started pcport $! "$logs/pcportpeer.log"
wait_for_line "$logs/pcportpeer.log" '^line ' || echo "The PC-port peer did not start (see $logs/pcportpeer.log)."
plug() {
    local target
    target="$(readlink "$root/dev/$1")" || { echo "no $1 line"; return; }
    ln -sfn "$target" "$root/dev/ttyS2"
}
plug club-router
# The club system's clock shows the host's time (the peer starts at a fixed date).
echo "router-clock $(date -u +%Y-%m-%dT%H:%M:%S)" >&7

# The cloud endpoint, then the modem peer bridged to it.
endpoint="${BRELLIUM_CLOUD_ENDPOINT:-}"
if [ -z "$endpoint" ] && [ -x "$build/brellium_cloudpeer" ]; then
    credentials="$(simdb credentials)"
    "$build/brellium_cloudpeer" --loft "$credentials" --log "$logs/cloud-calls" > "$logs/cloudpeer.log" 2>&1 < /dev/null 7>&- 8>&- 9>&- &
    started cloud $! "$logs/cloudpeer.log"
    if wait_for_line "$logs/cloudpeer.log" 'cloud endpoint on '; then
        endpoint="$(grep -o '127\.0\.0\.1:[0-9]*' "$logs/cloudpeer.log" | head -n 1)"
    fi
fi
started modem "$(bash "$here/scripts/modempeer.sh" "$build" "$root" "$endpoint" 7>&- 8>&- 9>&-)" "$logs/modem-peer.log"

# In an AddressSanitizer build on the virtual X display: libxkbcommon-x11
# copies X atom names with strndup from replies that carry no terminating
# NUL, which is sound (strndup reads at most the length given), but the
# sanitizer's strict string checks read on to a NUL and report an overflow
# inside that library at start-up. Only the clock's X start meets it; every
# other process, and the clock on any other platform, keeps the checks.
clock_asan="${ASAN_OPTIONS:-}"
if [ -n "$clock_asan" ] && [ "${QT_QPA_PLATFORM:-}" = xcb ]; then
    clock_asan="$clock_asan:strict_string_checks=0"
fi
(cd "$root/app/work" && ASAN_OPTIONS="$clock_asan" exec "$build/brellium") > "$logs/clock.log" 2>&1 < /dev/null 7>&- 8>&- 9>&- &
clock_pid=$!
echo "clock $clock_pid" >> "$run/pids"

module_order() { "$module_peer" --root "$root" --send "$*" || true; }

# A command to a peer's console; its answer is what the peer writes next.
peer_command() {
    local fd="$1" log="$2"
    shift 2
    local before
    before="$(wc -l < "$log")"
    echo "$*" >&"$fd"
    # A loaded host may take seconds; an answer ends the wait at once.
    for _ in $(seq 50); do
        sleep 0.1
        [ "$(wc -l < "$log")" -gt "$before" ] && break
    done
    sleep 0.2
    tail -n +"$((before + 1))" "$log"
}

stop_all() {
    # Once stopping, a second Ctrl-C or TERM must not cut it short: the
    # processes not yet ended would be left running.
    trap - EXIT
    trap '' INT TERM
    if kill -0 "$clock_pid" 2>/dev/null; then
        echo "Closing the clock..."
        # Again every second: a clock still starting has no port yet.
        for i in $(seq 300); do
            kill -0 "$clock_pid" 2>/dev/null || break
            [ $((i % 10)) = 1 ] && { printf 'brellium:close' > "/dev/udp/127.0.0.1/$close_port" || true; }
            sleep 0.1
        done
        if kill -0 "$clock_pid" 2>/dev/null; then
            echo "The clock did not close; ending it."
            kill "$clock_pid" 2>/dev/null || true
        fi
    fi
    "$module_peer" --root "$root" --send quit >/dev/null 2>&1 || true
    local name
    for name in "${!pids[@]}"; do kill "${pids[$name]}" 2>/dev/null || true; done
    for name in "${!pids[@]}"; do
        for _ in $(seq 30); do kill -0 "${pids[$name]}" 2>/dev/null || break; sleep 0.1; done
        # x11vnc that lost its display first can hang in its own clean-up.
        kill -9 "${pids[$name]}" 2>/dev/null || true
    done
    wait 2>/dev/null || true
    rm -f "$run/clubpeer.in" "$run/pcpeer.in" "$run/modulepeer.sock"
    find "$root/dev" -maxdepth 1 -type l -delete
}
trap stop_all EXIT
trap 'exit 130' INT TERM

cat <<EOF
Simulated root: $root
Clock output: $logs/clock.log   board commands (recorded, never run): $logs/board-commands
Peer records: modulepeer.log clubpeer.log pcpeer.log pcportpeer.log modem-peer.log modem-sms cloudpeer.log cloud-calls (in $logs)
Type "help" for the console's commands.
EOF

help() {
    cat <<'EOF'
  ring <ring|pigeon> [uid]    present a ring at a landing antenna (8 hex digits, or a pigeon's number)
  club-ring <ring|pigeon>     present a ring at the club reader (connector record and router reader)
  club-ring none              take the ring away from the router's reader
  mains off|on                cut or restore mains power (the clock powers off ~5 s after a cut)
  close                       send the close datagram ("brellium:close")
  arrivals [n]                the latest arrivals from the database, as a table
  pigeons                     the pigeons and their rings
  pigeon <ring> <assocNum>    register a pigeon wearing a ring
  race [code]                 a race flying now (state 3) with every pigeon basketed (default R0001)
  sms                         the SMS the modem peer received
  cloud                       the calls the cloud endpoint received
  printed                     the pages printed at the club router
  plug club|pc                what the club cable is plugged into (the router, or the PC program)
  pc <command>                a command to the PC program ("pc help")
  club <command>              a command to the club router peer ("club help")
  channels <n>                the module reports n landing antennas
  channel <index> error|ok    put a channel in error, or clear it
  module-clock on|off         module type with (4B31) or without (4A31) a clock
  stats                       what the module has been asked so far
  quit                        stop the clock and every peer started here
EOF
}

# A ring number as typed, or the ring of the pigeon named.
ring_of() {
    if [[ "$1" =~ ^[0-9A-Fa-f]{8}$ ]]; then
        echo "${1^^}"
    else
        simdb ring-of "$1"
    fi
}

show_file() {
    if [ -s "$1" ]; then cat "$1"; else echo "$2"; fi
}

show_sms() {
    if [ ! -s "$logs/modem-sms" ]; then echo "(no SMS yet)"; return; fi
    while IFS=$'\t' read -r mode number text; do
        printf '%-5s %-16s %s\n' "$mode" "$number" "${text//\\n/ / }"
    done < "$logs/modem-sms"
}

show_printed() {
    if ! grep -q '^printed: ' "$logs/clubpeer.log"; then echo "(nothing printed yet)"; return; fi
    echo "+------------------------------------------------"
    grep '^printed: ' "$logs/clubpeer.log" | sed -e 's/^printed: //' \
        -e 's/^---- form feed ----$/+-------------------- new page --------------------/' -e 's/^\([^+]\)/| \1/' -e 's/^$/|/'
    echo "+------------------------------------------------"
}

# A peer that ends is reported once; the clock keeps running.
check_peers() {
    local name
    for name in "${!pids[@]}"; do
        if [ -z "${reported[$name]:-}" ] && ! kill -0 "${pids[$name]}" 2>/dev/null; then
            reported[$name]=1
            echo "The $name peer has ended (see ${peer_logs[$name]}); the clock keeps running."
        fi
    done
}

while kill -0 "$clock_pid" 2>/dev/null; do
    printf '> '
    # Wake now and then, so that a clock that powered itself off ends the console.
    line=""
    until read -r -t 1 line; do
        status=$?
        if [ "$status" -le 128 ]; then line="quit"; break; fi # end of input
        check_peers
        kill -0 "$clock_pid" 2>/dev/null || break 2
    done
    check_peers
    set -f; set -- $line; set +f
    case "${1:-}" in
        "") ;;
        help) help ;;
        ring)
            if [ -z "${2:-}" ]; then echo "ring needs a ring number or a pigeon"
            elif r="$(ring_of "$2")"; then module_order tag "$r" "${3:-}"
            fi ;;
        club-ring)
            if [ -z "${2:-}" ]; then echo "club-ring needs a ring number or a pigeon"
            elif [ "$2" = none ]; then peer_command 7 "$logs/clubpeer.log" router-ring none
            elif r="$(ring_of "$2")"; then
                peer_command 7 "$logs/clubpeer.log" ring "$r"
                peer_command 7 "$logs/clubpeer.log" router-ring "$r"
            fi ;;
        mains)
            case "${2:-}" in
                off) echo 0 > "$mains"; echo "Mains cut: the clock powers off within about 5 s." ;;
                on) echo 1 > "$mains"; echo "Mains restored." ;;
                *) echo "mains off|on" ;;
            esac ;;
        close) printf 'brellium:close' > "/dev/udp/127.0.0.1/$close_port" && echo "Close datagram sent." ;;
        arrivals) simdb arrivals "${2:-10}" || true ;;
        pigeons) simdb pigeons || true ;;
        pigeon) [ -n "${3:-}" ] && { simdb pigeon "$2" "$3" || true; } || echo "pigeon needs a ring and an association number" ;;
        race) simdb race ${2:+"$2"} || true ;;
        sms) show_sms ;;
        cloud)
            if [ -z "${pids[cloud]:-}" ]; then echo "(no cloud endpoint peer runs)"
            else show_file "$logs/cloud-calls" "(no cloud calls yet)"
            fi ;;
        printed) show_printed ;;
        plug)
            case "${2:-}" in
                club) plug club-router; echo "The club cable goes to the club router." ;;
                pc) plug pc-program; echo "The club cable goes to the PC program." ;;
                *) echo "plug club|pc" ;;
            esac ;;
        pc) shift; [ $# -gt 0 ] && peer_command 8 "$logs/pcpeer.log" "$@" || echo "pc <command>; pc help lists them" ;;
        club) shift; [ $# -gt 0 ] && peer_command 7 "$logs/clubpeer.log" "$@" || echo "club <command>; club help lists them" ;;
        channels) module_order channels "${2:-1}" ;;
        channel) module_order channel "${2:-0}" "${3:-error}" ;;
        module-clock) [ "${2:-on}" = on ] && module_order type 4B31 || module_order type 4A31 ;;
        stats) module_order stats ;;
        quit|exit) break ;;
        *) echo "Unknown command \"$1\"; type help." ;;
    esac
done
if ! kill -0 "$clock_pid" 2>/dev/null; then
    echo
    echo "The clock has ended (see $logs/clock.log)."
fi
