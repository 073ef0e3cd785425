#!/usr/bin/env bash
# Installs what the clock needs to build, test and run on a Debian 12 host.
set -euo pipefail
packages=(cmake g++ make ccache clang libclang-rt-14-dev
          qt6-base-dev qt6-base-dev-tools qt6-serialport-dev libqt6sql6-sqlite
          qt6-l10n-tools qt6-tools-dev qt6-tools-dev-tools libasound2-dev libsqlite3-dev libgl-dev
          espeak-ng sox tzdata fonts-dejavu-core fonts-wqy-microhei xvfb x11vnc)
missing=()
for p in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
    sudo=""
    [ "$(id -u)" -eq 0 ] || sudo="sudo"
    $sudo apt-get update -q
    DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -q --no-install-recommends "${missing[@]}"
fi
