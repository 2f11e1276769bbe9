#!/bin/sh
# The click repairer measured on a minute of real music: Debian's drascula-music (orchestral game
# music, Ogg Vorbis at 44.1 kHz stereo), installed here when missing, a minute of it decoded to
# 16-bit WAV, and declick_bench run on it beside ffmpeg's adeclick (see declick_bench.cpp).
#
#   declick_bench.sh PATH/TO/declick_bench [WORK_DIR]
#
# WORK_DIR (default: a fresh folder under $TMPDIR, removed at the end) holds the minute, the
# corrupted copies and ffmpeg's output, about 50 MB.
set -eu

bench=${1:?usage: declick_bench.sh PATH/TO/declick_bench [WORK_DIR]}
. "$(dirname "$0")/workdir.sh"
bench_work_dir declick "${2:-}"

song=/usr/share/scummvm/drascula/audio/track2.ogg
if [ ! -f "$song" ]; then
    echo "installing drascula-music ..."
    if [ "$(id -u)" = 0 ]; then
        DEBIAN_FRONTEND=noninteractive apt-get install -y -q drascula-music >/dev/null
    else
        sudo DEBIAN_FRONTEND=noninteractive apt-get install -y -q drascula-music >/dev/null
    fi
fi
command -v ffmpeg >/dev/null || { echo "declick_bench: ffmpeg is needed" >&2; exit 1; }

ffmpeg -v error -y -ss 30 -t 60 -i "$song" -ar 44100 -ac 2 -c:a pcm_s16le -fflags +bitexact \
    -map_metadata -1 "$work/clean.wav"
echo "load average before: $(cut -d' ' -f1-3 /proc/loadavg) ($(nproc) cores)"
"$bench" "$work/clean.wav" "$work" "$(command -v ffmpeg)"
echo "load average after: $(cut -d' ' -f1-3 /proc/loadavg)"
