#!/usr/bin/env bash
# Starts, in the background, the modem peer of the family that the simulated
# device's configuration selects (the modem-type bits 0x1800 of
# "userSettings": 0x800 EC25 on /dev/ttyUSB2, 0x1000 Telit on /dev/ttyUSB4,
# anything else u-blox on /dev/ttyUSB1), and prints its process id. Its
# output goes to <root>/var/log/modem-peer.log, the SMS it receives to
# <root>/var/log/modem-sms. It follows the modem's power pin (GPIO 41 under
# the root): the node is there only while the clock powers the modem. Without
# an endpoint its socket connects fail.
# Usage: scripts/modempeer.sh <build-dir> <root> [endpoint-host:port]
set -euo pipefail
build="$1"
root="$2"
endpoint="${3:-}"
settings="$(grep -o '"userSettings"[[:space:]]*:[[:space:]]*[0-9]*' "$root/app/main_program.config" 2>/dev/null \
    | grep -o '[0-9]*$' || true)"
case $(( ${settings:-0} & 0x1800 )) in
    2048) family=ec25;  node=/dev/ttyUSB2 ;;
    4096) family=telit; node=/dev/ttyUSB4 ;;
    *)    family=ublox; node=/dev/ttyUSB1 ;;
esac
mkdir -p "$root/var/log" "$root/dev"
args=(--family "$family" --node "$root$node" --sms-log "$root/var/log/modem-sms" --root "$root")
if [ -n "$endpoint" ]; then args+=(--endpoint "$endpoint"); fi
"$build/brellium_modempeer" "${args[@]}" > "$root/var/log/modem-peer.log" 2>&1 < /dev/null &
echo $!
