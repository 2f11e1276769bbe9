#!/bin/sh
# Time and peak memory of vellisto-split on long sides, beside reading the same warm file with
# cat, detecting its gaps with ffmpeg's silencedetect (which writes nothing) and splitting it
# with sox's silence effect; and the splitter's time as a ratio of the other two.
#
#   split_bench.sh PATH/TO/vellisto-split [WORK_DIR] [RUNS]
#
# Generates a 60-minute side (44,100 per second, stereo, 16-bit: about 635 MB) of music-like
# noise with a few seconds of hiss between songs every three to four minutes, and its first
# 10 minutes, in WORK_DIR (default: a fresh folder under $TMPDIR, removed at the end; it needs
# about 3.5 GB), and a side of real music when one is installed (below).
# The splitter runs with --end-gap 30, so that a long quiet passage inside a track does not
# end the side early; ffmpeg and sox look at the whole file.
# The machine may be shared: the programs take turns, RUNS rounds (default 5), the median time
# of each is shown (and the ratios of medians), and the load average before and after.
set -eu

split=${1:?usage: split_bench.sh PATH/TO/vellisto-split [WORK_DIR] [RUNS]}
runs=${3:-5}
. "$(dirname "$0")/workdir.sh"
bench_work_dir split "${2:-}"

for tool in sox soxi ffmpeg /usr/bin/time; do
    command -v "$tool" >/dev/null || { echo "split_bench: $tool is needed" >&2; exit 1; }
done

# Four songs of different lengths (pink noise with a slow swell, faded in and out), each
# followed by 3 s of hiss at about -60 dB; the four, repeated, make the 60 minutes.
if [ ! -f "$work/side60.wav" ]; then
    echo "generating the test sides in $work ..."
    i=0
    for len in 205 231 188 256; do
        i=$((i + 1))
        sox -R -n -r 44100 -c 2 -b 16 "$work/song$i.wav" synth "$len" pinknoise \
            tremolo 0.2 40 vol 0.5 fade t 2 "$len" 3
        sox -R -n -r 44100 -c 2 -b 16 "$work/gap$i.wav" synth 3 whitenoise vol 0.001
    done
    sox "$work/song1.wav" "$work/gap1.wav" "$work/song2.wav" "$work/gap2.wav" \
        "$work/song3.wav" "$work/gap3.wav" "$work/song4.wav" "$work/gap4.wav" "$work/block.wav"
    # repeat N plays the block N + 1 times (5 x 892 s); trimmed to exactly 60 minutes.
    sox "$work/block.wav" "$work/side60.wav" repeat 4 trim 0 3600
    sox "$work/side60.wav" "$work/side10.wav" trim 0 600
    rm -f "$work"/song?.wav "$work"/gap?.wav "$work/block.wav"
fi
# Real recorded music when a Debian package of it is installed: wesnoth-1.16-music (150 MB) or
# drascula-music (47 minutes, 60 MB); neither is needed by the tests. Its ogg tracks are decoded
# with sox and joined with 2 s of low hiss, and the whole played again as far as 61 minutes.
music=
for dir in /usr/share/games/wesnoth/1.16/data/core/music /usr/share/scummvm/drascula/audio; do
    if [ -d "$dir" ]; then
        music=$dir
        break
    fi
done
sides="10 60"
if [ -n "$music" ]; then
    sides="10 60 music61"
    if [ ! -f "$work/sidemusic61.wav" ]; then
        echo "decoding the tracks of $music ..."
        sox -R -n -r 44100 -c 2 -b 16 "$work/hiss.wav" synth 2 whitenoise vol 0.001
        set --
        for track in "$music"/*.ogg; do
            out="$work/track$#.wav"
            sox "$track" -r 44100 -c 2 -b 16 "$out"
            set -- "$@" "$out" "$work/hiss.wav"
        done
        sox "$@" "$work/music.wav"
        sox "$work/music.wav" "$work/sidemusic61.wav" repeat 1 trim 0 3660
        rm -f "$work"/track*.wav "$work/hiss.wav" "$work/music.wav"
    fi
fi

# Runs a command under /usr/bin/time; prints "SECONDS PEAK_KB".
measure() {
    /usr/bin/time -f "%e %M" -o "$work/time.txt" "$@" >/dev/null 2>"$work/stderr.txt" || {
        echo "split_bench: failed: $*" >&2
        cat "$work/stderr.txt" >&2
        exit 1
    }
    cat "$work/time.txt"
}

# The median of "SECONDS PEAK_KB" results, one a line, by time.
median() {
    sort -n | awk '{ t[NR] = $0 } END { print t[int((NR + 1) / 2)] }'
}

load() { cut -d' ' -f1-3 /proc/loadavg; }

echo "load average before: $(load) ($(nproc) cores)"
printf '%-8s %-26s %8s %10s %8s %6s %8s %8s\n' side tool seconds "x realtime" "peak MB" \
    files "/ffmpeg" "/sox"
for side in $sides; do
    file="$work/side$side.wav"
    audio=$(soxi -D "$file" | cut -d. -f1)
    cat "$file" >/dev/null
    c=$(measure cat "$file")
    : >"$work/s.txt"
    : >"$work/l.txt"
    : >"$work/f.txt"
    : >"$work/x.txt"
    n=0
    while [ "$n" -lt "$runs" ]; do
        n=$((n + 1))
        rm -rf "$work/out" "$work/sox"
        mkdir "$work/out" "$work/sox"
        measure "$split" --quiet --force --end-gap 30 -o "$work/out/Side.wav" "$file" \
            >>"$work/s.txt"
        measure "$split" --quiet --list --end-gap 30 "$file" >>"$work/l.txt"
        measure ffmpeg -nostdin -hide_banner -i "$file" \
            -af silencedetect=n=-35dB:d=1 -f null - >>"$work/f.txt"
        measure sox "$file" "$work/sox/song.wav" \
            silence 1 0.1 -35d 1 1.0 -35d : newfile : restart >>"$work/x.txt"
    done
    s=$(median <"$work/s.txt")
    l=$(median <"$work/l.txt")
    f=$(median <"$work/f.txt")
    x=$(median <"$work/x.txt")
    songs=$(ls "$work/out" | wc -l)
    soxfiles=$(ls "$work/sox" | wc -l)
    ft=${f%% *}
    xt=${x%% *}
    for row in "cat >/dev/null|$c|-" "vellisto-split|$s|$songs" "vellisto-split --list|$l|-" \
               "ffmpeg silencedetect|$f|-" "sox silence+newfile|$x|$soxfiles"; do
        echo "$row" | awk -F'|' -v side="$side" -v audio="$audio" -v ft="$ft" -v xt="$xt" '{
            split($2, t, " ");
            printf "%-8s %-26s %8.2f %10.0f %8.1f %6s %8.2f %8.2f\n", side, $1, t[1],
                   (t[1] > 0 ? audio / t[1] : 0), t[2] / 1024, $3,
                   (ft > 0 ? t[1] / ft : 0), (xt > 0 ? t[1] / xt : 0) }'
    done
done
echo "load average after: $(load); medians of $runs rounds, the programs taking turns"
rm -rf "$work/out" "$work/sox"
