#!/bin/sh
# Saves PNGs under docs/: the recorder window in both colour schemes, idle (the meters following
# the input), recording and with each warning, and with the meters' tooltip when the input cannot
# be opened; the end-of-side summary, the Custom Settings dialog and the Review window in both
# schemes, the help window, About and the mixer buttons' message boxes, at scale factors 1 and 2.
# Renders offscreen, so it needs no display.
#   tools/screenshots.sh [build-dir]      (default: build)
set -eu
here=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-"$here/build"}
tool="$build/app/vellisto_screenshots"
[ -x "$tool" ] || { echo "build the target vellisto_screenshots first: $tool" >&2; exit 1; }
mixer_tool="$build/app/vellisto_mixer_screenshots"
[ -x "$mixer_tool" ] || { echo "build the target vellisto_mixer_screenshots first" >&2; exit 1; }
command -v sox >/dev/null || { echo "sox is needed to make the input signal" >&2; exit 1; }

# A folder of a fixed name: the end-of-side summary shows it.
work="${TMPDIR:-/tmp}/vellisto-screenshots"
rm -rf "$work"
mkdir -p "$work"
trap 'rm -rf "$work"' EXIT
# Ten seconds of a loud two-tone signal with a short overload burst: meters, peak marks and
# the overload lamp all show.
sox -n -r 44100 -b 16 -c 2 "$work/in.wav" synth 10 sine 440 sine 660 gain -4
# A take of three songs for the Review window: noise swelling and fading, quiet between songs.
sox -R -n -r 44100 -b 16 -c 2 "$work/SideB1.wav" synth 14 pinknoise tremolo 0.4 70 fade 0.3 14 1.5 gain -9 pad 0 0.7
sox -R -n -r 44100 -b 16 -c 2 "$work/SideB2.wav" synth 11 pinknoise tremolo 0.7 60 fade 0.5 11 2 gain -7 pad 0.6 0.8
# Three clicks on the second song, for Repair Clicks: bursts of a few samples, mixed in.
sox -R -n -r 44100 -b 16 -c 2 "$work/click.wav" synth 0.0003 square 2000 gain -3
for at in 2.1 5.3 8.8; do sox "$work/click.wav" "$work/click-$at.wav" pad "$at" 0; done
mv "$work/SideB2.wav" "$work/plain.wav"
sox -m -v 1 "$work/plain.wav" -v 1 "$work/click-2.1.wav" -v 1 "$work/click-5.3.wav" \
    -v 1 "$work/click-8.8.wav" "$work/SideB2.wav"
rm "$work"/click*.wav "$work/plain.wav"
sox -R -n -r 44100 -b 16 -c 2 "$work/SideB3.wav" synth 16 pinknoise tremolo 0.3 75 fade 0.4 16 3 gain -8 pad 0.5 0
mkdir -p "$here/docs" "$work/cfg"
for scale in 1 2; do
    (cd "$work" && XDG_CONFIG_HOME="$work/cfg" XDG_DATA_HOME="$work/data" \
        QT_QPA_PLATFORM=offscreen QT_SCALE_FACTOR=$scale \
        "$tool" "$work/in.wav" "$here/docs" "-x$scale")
    (cd "$work" && XDG_CONFIG_HOME="$work/cfg" XDG_DATA_HOME="$work/data" \
        QT_QPA_PLATFORM=offscreen QT_SCALE_FACTOR=$scale "$mixer_tool" "$here/docs" "-x$scale")
done
