#!/usr/bin/env bash
# Makes a simulated device root: a recognised board (type 2: GPIO files),
# its GPIO value files, the configuration and version files, and a working
# directory for the database. Usage: scripts/simroot.sh <root> [board-type]
set -euo pipefail
root="$1"
board="${2:-2}"
marks=("" OmbrixaW5AR OmbrixaW5BR OmbrixaW5CR)
mkdir -p "$root/proc" "$root/app/brellium" "$root/app/work" "$root/etc" "$root/mnt/sdcard" "$root/var/log" "$root/dev"
echo "Linux version 3.0.35-${marks[$board]} (builder@host) (gcc version 4.6.2) #1 PREEMPT" > "$root/proc/version"
for n in 7 22 40 41 51 54 55; do
    mkdir -p "$root/sys/class/gpio/gpio$n"
    echo 1 > "$root/sys/class/gpio/gpio$n/value"
done
if [ "$board" = 1 ]; then
    mkdir -p "$root/dev/vexlor_hw_ctl"
    echo 1 > "$root/dev/vexlor_hw_ctl/5"
    echo 1 > "$root/dev/vexlor_hw_ctl/7"
fi
[ -f "$root/app/main_program.config" ] || echo '{"userSettings":0}' > "$root/app/main_program.config"
