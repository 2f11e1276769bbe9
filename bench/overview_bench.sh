#!/bin/sh
# Time and peak memory of the Review window's overview of a 60-minute side: the peaks of every
# hundredth of a second computed from the file (warm in the page cache, and cold: this file's
# pages dropped first), on one and on two threads, and the time to draw the whole side at 1,000
# columns from them.
#
#   overview_bench.sh PATH/TO/overview_bench [WORK_DIR] [RUNS]
#
# Generates with sox a 60-minute side of music-like noise (44,100 per second, stereo, 16-bit:
# about 635 MB) and the same in 32-bit float (1.27 GB) in WORK_DIR (default: a fresh folder under
# $TMPDIR, removed at the end). Each figure is the median of RUNS runs (default 5) inside one
# process; the peak memory is that process's. The machine may be shared: the load average is
# shown before and after.
set -eu

bench=${1:?usage: overview_bench.sh PATH/TO/overview_bench [WORK_DIR] [RUNS]}
runs=${3:-5}
. "$(dirname "$0")/workdir.sh"
bench_work_dir overview "${2:-}"

for tool in sox /usr/bin/time; do
    command -v "$tool" >/dev/null || { echo "overview_bench: $tool is needed" >&2; exit 1; }
done

# One 4-minute song of pink noise with a slow swell and 3 s of hiss after it, repeated.
if [ ! -f "$work/side60.wav" ]; then
    echo "generating the test sides in $work ..."
    sox -R -n -r 44100 -c 2 -b 16 "$work/song.wav" synth 237 pinknoise tremolo 0.2 40 vol 0.5 \
        fade t 2 237 3
    sox -R -n -r 44100 -c 2 -b 16 "$work/gap.wav" synth 3 whitenoise vol 0.001
    sox "$work/song.wav" "$work/gap.wav" "$work/block.wav"
    sox "$work/block.wav" "$work/side60.wav" repeat 14 trim 0 3600
    sox "$work/side60.wav" -e floating-point -b 32 "$work/side60f.wav"
    rm -f "$work/song.wav" "$work/gap.wav" "$work/block.wav"
fi

load() { cut -d' ' -f1-3 /proc/loadavg; }

echo "load average before: $(load) ($(nproc) cores)"
printf '%-14s %-6s %-8s %8s %10s %10s %10s %8s\n' side cache threads audio_s median_s best_s \
    draw_ms peak_MB
for side in side60 side60f; do
    file="$work/$side.wav"
    cat "$file" >/dev/null
    for mode in warm cold; do
        for threads in 2 1; do
            [ "$mode" = cold ] && [ "$threads" = 1 ] && continue
            flag=
            [ "$mode" = cold ] && flag=--cold
            /usr/bin/time -f "%M" -o "$work/time.txt" \
                "$bench" "$file" --threads "$threads" --runs "$runs" $flag >"$work/out.txt"
            set -- $(cat "$work/out.txt")
            peak=$(cat "$work/time.txt")
            printf '%-14s %-6s %-8s %8s %10s %10s %10s %8s\n' "$side" "$mode" "$threads" \
                "$1" "$2" "$3" "$4" "$(awk -v kb="$peak" 'BEGIN { printf "%.1f", kb / 1024 }')"
        done
    done
    # A cold run leaves the file out of the cache; the next side starts warm again.
    cat "$file" >/dev/null
done
echo "load average after: $(load); medians of $runs runs"
