#!/bin/sh
# Time and peak memory of a keep that re-cuts a 60-minute side (every cut moved by a second,
# the 17 song files written anew, synced and put in place of the old ones), beside cat of the
# same song files into one file (with and without a sync of it) and to /dev/null; the keep's
# time as a ratio of each. Also a keep of the side as FLAC songs.
#
#   keep_bench.sh PATH/TO/keep_bench [WORK_DIR] [RUNS]
#
# Generates the side (44,100 per second, stereo, 16-bit: about 635 MB of pink noise with a
# slow swell) in WORK_DIR (default: a fresh folder under $TMPDIR, removed at the end; it needs
# about 2 GB) and cuts it every 210 s. The machine may be shared: the programs take turns,
# RUNS rounds (default 5), and the median of each is shown with the load average.
set -eu

keep=${1:?usage: keep_bench.sh PATH/TO/keep_bench [WORK_DIR] [RUNS]}
runs=${3:-5}
. "$(dirname "$0")/workdir.sh"
bench_work_dir keep "${2:-}"

for tool in sox /usr/bin/time; do
    command -v "$tool" >/dev/null || { echo "keep_bench: $tool is needed" >&2; exit 1; }
done

side="$work/take/Side.wav"
mkdir -p "$work/take"
if [ ! -f "$work/take/Side1.wav" ]; then
    echo "generating the 60-minute side in $work ..."
    rm -f "$work"/take/*
    sox -R -n -r 44100 -c 2 -b 16 "$side" synth 3600 pinknoise tremolo 0.2 40 vol 0.5
    "$keep" split "$side" 210 >/dev/null
    rm -f "$side"
fi

# Runs a command under /usr/bin/time; prints "SECONDS PEAK_KB".
measure() {
    /usr/bin/time -f "%e %M" -o "$work/time.txt" "$@" >/dev/null 2>"$work/stderr.txt" || {
        echo "keep_bench: failed: $*" >&2
        cat "$work/stderr.txt" >&2
        exit 1
    }
    cat "$work/time.txt"
}
median() { sort -n | awk '{ t[NR] = $0 } END { print t[int((NR + 1) / 2)] }'; }
load() { cut -d' ' -f1-3 /proc/loadavg; }

songs() { ls "$work"/take/Side*.wav | sort -V; }
bytes=$(songs | xargs cat | wc -c)
echo "load average before: $(load) ($(nproc) cores); $(songs | wc -l) song files, $bytes bytes"
: >"$work/k.txt"
: >"$work/c.txt"
: >"$work/s.txt"
: >"$work/n.txt"
: >"$work/f.txt"
n=0
while [ "$n" -lt "$runs" ]; do
    n=$((n + 1))
    # Forward and back, so that every round re-cuts the same take.
    shift=1
    [ $((n % 2)) = 0 ] && shift=-1
    measure "$keep" recut "$side" "$shift" >>"$work/k.txt"
    measure sh -c "cat $(songs | tr '\n' ' ') >'$work/joined.wav'" >>"$work/c.txt"
    rm -f "$work/joined.wav"
    measure sh -c "cat $(songs | tr '\n' ' ') >'$work/joined.wav' && sync '$work/joined.wav'" \
        >>"$work/s.txt"
    rm -f "$work/joined.wav"
    measure sh -c "cat $(songs | tr '\n' ' ') >/dev/null" >>"$work/n.txt"
    measure "$keep" flac "$side" >>"$work/f.txt"
    rm -f "$work"/take/*.flac
done
k=$(median <"$work/k.txt")
kt=${k%% *}
printf '%-32s %8s %8s %8s\n' what seconds "peak MB" "keep/x"
for row in "keep: re-cut, synced|$(median <"$work/k.txt")" \
           "cat > file|$(median <"$work/c.txt")" \
           "cat > file; sync file|$(median <"$work/s.txt")" \
           "cat > /dev/null|$(median <"$work/n.txt")" \
           "keep as FLAC, synced|$(median <"$work/f.txt")"; do
    echo "$row" | awk -F'|' -v kt="$kt" '{
        split($2, t, " ");
        printf "%-32s %8.2f %8.1f %8.2f\n", $1, t[1], t[2] / 1024, (t[1] > 0 ? kt / t[1] : 0) }'
done
echo "load average after: $(load); medians of $runs rounds, the programs taking turns"
