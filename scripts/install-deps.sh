#!/usr/bin/env bash
# Installs the Debian 12 packages Vellisto needs to build, run and test. Idempotent and quick
# when everything is present: apt is only asked when a package is missing.
set -euo pipefail

packages=(
    cmake g++ pkg-config libgtest-dev libgmock-dev libbenchmark-dev
    clang libclang-rt-14-dev clang-format
    qt6-base-dev qt6-svg-dev libgl-dev libxcb1-dev
    portaudio19-dev libasound2-dev
    libsndfile1-dev flac sox libsox-fmt-base ffmpeg cuetools time
    libcli11-dev
    xvfb xdotool xterm openbox fonts-dejavu-core
    # the desktop-services tests run a private bus
    dbus-daemon
    # the install-tree test and the Debian package (cpack)
    desktop-file-utils appstream dpkg-dev file
    # the mixer tests and the real-time soak (bench/soak.sh)
    pulseaudio pulseaudio-utils libasound2-plugins alsa-utils stress-ng
)

missing=()
for p in "${packages[@]}"; do
    if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
        missing+=("$p")
    fi
done

if [ ${#missing[@]} -eq 0 ]; then
    exit 0
fi

echo "Installing: ${missing[*]}"
sudo_cmd=()
if [ "$(id -u)" -ne 0 ]; then sudo_cmd=(sudo); fi
export DEBIAN_FRONTEND=noninteractive
"${sudo_cmd[@]}" apt-get update -qq
"${sudo_cmd[@]}" apt-get install -y -qq "${missing[@]}" >/dev/null
