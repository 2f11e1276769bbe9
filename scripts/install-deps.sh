#!/usr/bin/env bash
# Installs the Debian 12 packages Vellisto needs. Usage: install-deps.sh [run|test]
#   run:  what building and running the recorder and the splitter takes (scripts/run.sh);
#   test: that and what the tests, the sanitizer and fuzz builds and the benchmarks take
#         (scripts/test.sh; the default).
# Idempotent and quick when everything is present: apt is only asked when a package is missing.
set -euo pipefail

set_name=${1:-test}

run_packages=(
    cmake g++ pkg-config
    qt6-base-dev qt6-svg-dev libgl-dev libxcb1-dev
    portaudio19-dev libasound2-dev
    libsndfile1-dev
    libcli11-dev
)

test_packages=(
    libgtest-dev libgmock-dev libbenchmark-dev ninja-build
    clang libclang-rt-14-dev clang-format
    # the writers' files read back, the splitter's cue sheets compared, the benchmarks' timings
    flac sox libsox-fmt-base ffmpeg cuetools time
    # the window on a private X server with a window manager, with the fonts the offscreen
    # tests draw in
    xvfb xdotool xterm openbox fonts-dejavu-core
    # the desktop-services tests run a private bus
    dbus-daemon
    # the install-tree test and the Debian package (cpack)
    desktop-file-utils appstream dpkg-dev file
    # the mixer tests and the real-time soak (bench/soak.sh)
    pulseaudio pulseaudio-utils libasound2-plugins alsa-utils stress-ng
)

case $set_name in
    run) packages=("${run_packages[@]}") ;;
    test) packages=("${run_packages[@]}" "${test_packages[@]}") ;;
    *)
        echo "usage: $0 [run|test]" >&2
        exit 2
        ;;
esac

# One query for all of them: a package unknown to dpkg is simply not listed.
installed=" $({ dpkg-query -W -f='${db:Status-Abbrev}${Package}\n' "${packages[@]}" 2>/dev/null || true; } |
    awk '$1 == "ii" { printf "%s ", $2 }') "
missing=()
for p in "${packages[@]}"; do
    if [[ $installed != *" $p "* ]]; then
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
