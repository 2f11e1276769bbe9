#!/usr/bin/env bash
# The real-time soak: the recorder's own recording path (the headless recording control with
# the PortAudio backend on ALSA's `pulse` device) records from a PulseAudio pipe source that a
# generator feeds at real-time pace, while stress-ng loads every core and the disk; then every
# frame of the song files is checked (bench/soak.cpp says how). Not part of the test suite.
#
#   bench/soak.sh BUILD_DIR [--minutes N] [--runs "realtime stall long"] [--work DIR]
#
# Runs:
#   realtime  N minutes (default 10): three songs with gaps of 3 s at a real level (below
#             -36 dBFS, not digital silence), 16-bit 44.1 kHz stereo, under stress-ng on every
#             core and the disk. Expects no frame lost, repeated, reordered or altered, and the
#             files split exactly at the gaps.
#   stall     3 minutes each, the song files' writes made to sleep every 20 s: 600 ms (longer
#             than one 64 KiB buffer, 0.37 s, within the capture side's slack: nothing may be
#             lost) and 2,000 ms (beyond it: the frames lost must be exactly those reported).
#   long      a 3-hour 48 kHz 32-bit float recording through the file backend (read as fast as
#             it goes), one song file of 4.15 GB; memory must stay flat (resident size from the
#             second minute on, sampled after every minute of audio, within 1 MiB).
# Needs pulseaudio, libasound2-plugins, pulseaudio-utils and stress-ng (scripts/install-deps.sh)
# and about 9 GB free in the work folder for the long run. Writes WORK/summary.txt.
set -euo pipefail

build=${1:?usage: bench/soak.sh BUILD_DIR [--minutes N] [--runs "realtime stall long"] [--work DIR]}
shift
minutes=10
runs="realtime stall long"
work=/var/tmp/vellisto-soak
while [ $# -gt 0 ]; do
    case $1 in
        --minutes) minutes=$2; shift 2 ;;
        --runs) runs=$2; shift 2 ;;
        --work) work=$2; shift 2 ;;
        *) echo "unknown option $1" >&2; exit 2 ;;
    esac
done
soak=$(cd "$build" && pwd)/bench/vellisto_soak
[ -x "$soak" ] || { echo "build $soak first (cmake --build $build --target vellisto_soak)" >&2; exit 2; }
for tool in pulseaudio pactl stress-ng; do
    command -v $tool >/dev/null || { echo "$tool is missing: run scripts/install-deps.sh" >&2; exit 2; }
done

rm -rf "$work"
mkdir -p "$work"
summary=$work/summary.txt
: >"$summary"
say() { echo "$*" | tee -a "$summary"; }

pids=()
cleanup() {
    for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
    wait 2>/dev/null || true
}
trap cleanup EXIT

# CPU time counters of all cores: busy and total jiffies.
cpu_sample() { awk '/^cpu /{t=0; for (i=2;i<=NF;i++) t+=$i; print t-$5-$6, t}' /proc/stat; }

# A private PulseAudio daemon with a pipe source as its default source.
start_pulse() {  # rate format
    export XDG_RUNTIME_DIR=$work/run
    mkdir -p "$XDG_RUNTIME_DIR" && chmod 700 "$XDG_RUNTIME_DIR"
    export PULSE_SERVER=unix:$XDG_RUNTIME_DIR/native
    pulseaudio -n --daemonize=no --exit-idle-time=-1 --log-target=file:"$work/pulse.log" \
        -L "module-native-protocol-unix auth-anonymous=1 socket=$XDG_RUNTIME_DIR/native" \
        -L "module-pipe-source source_name=tape file=$work/tape.fifo format=$2 rate=$1 channels=2" \
        >/dev/null 2>&1 &
    pulse_pid=$!
    pids+=("$pulse_pid")
    for _ in $(seq 100); do
        pactl info >/dev/null 2>&1 && [ -p "$work/tape.fifo" ] && break
        sleep 0.1
    done
    pactl set-default-source tape
}
stop_pulse() {
    kill "$pulse_pid" 2>/dev/null || true
    wait "$pulse_pid" 2>/dev/null || true
}

# One recording through the sound server: plan, then recorder options. Leaves the report in
# $work/$name.report and the check in $work/$name.check.
realtime_run() {  # name seconds stress(0/1) songs gap [record options...]
    local name=$1 seconds=$2 stress=$3 songs=$4 gap=$5
    shift 5
    local lead=3 song
    song=$(( (seconds - lead - (songs - 1) * gap) / songs ))
    local plan=(--rate 44100 --bits 16 --lead $lead --song "$song" --gap "$gap" --songs "$songs" --tail 60)
    start_pulse 44100 s16le
    # The generator stands for the sound card's hardware clock: it runs at real-time priority.
    chrt -f 20 "$soak" gen "${plan[@]}" --realtime >"$work/tape.fifo" &
    local gen_pid=$!
    pids+=("$gen_pid")
    local stress_pid=""
    if [ "$stress" = 1 ]; then
        mkdir -p "$work/stress"
        stress-ng --cpu 0 --hdd 2 --hdd-bytes 512m --temp-path "$work/stress" \
            --timeout $((seconds + 120))s --metrics-brief >"$work/$name.stress.log" 2>&1 &
        stress_pid=$!
        pids+=("$stress_pid")
    fi
    sleep 1
    local before after load
    before=$(cpu_sample)
    "$soak" record --device pulse --rate 44100 --bits 16 --out "$work/$name" \
        --report "$work/$name.report" --max-seconds $((seconds + 60)) "$@" 2>"$work/$name.log"
    after=$(cpu_sample)
    load=$(cut -d' ' -f1-3 /proc/loadavg)
    [ -n "$stress_pid" ] && { kill -INT "$stress_pid" 2>/dev/null || true; wait "$stress_pid" 2>/dev/null || true; }
    kill "$gen_pid" 2>/dev/null || true
    wait "$gen_pid" 2>/dev/null || true
    stop_pulse
    local busy
    busy=$(echo "$before $after" | awk '{printf "%.0f", 100*($3-$1)/($4-$2)}')
    say "== $name: $(grep -E '^seconds_recorded=' "$work/$name.report" | cut -d= -f2) s recorded" \
        "in $(grep -E '^wall_seconds=' "$work/$name.report" | cut -d= -f2) s;" \
        "CPU busy $busy% of $(nproc) cores, load average $load" \
        "$([ "$stress" = 1 ] && echo "(stress-ng: every core and 2 disk writers)")"
    grep -E '^(end|lost_frames|overruns|stalls|stall_ms|failures|messages|message[0-9]+)=' "$work/$name.report" |
        sed 's/^/   /' | tee -a "$summary"
    "$soak" check "${plan[@]}" --out "$work/$name" --report "$work/$name.report" \
        --songs-expected "$songs" | tee "$work/$name.check" | sed 's/^/   /' | tee -a "$summary"
    grep -q "all checks passed" "$work/$name.check"
}

status=0
for run in $runs; do
    case $run in
        realtime)
            realtime_run realtime $((minutes * 60)) 1 3 3 || status=1
            ;;
        stall)
            realtime_run stall600 180 0 3 3 --stall-ms 600 --stall-every 20 || status=1
            realtime_run stall2000 180 0 3 3 --stall-ms 2000 --stall-every 20 || status=1
            ;;
        long)
            mkdir -p "$work/long"
            plan=(--rate 48000 --bits 32 --lead 2 --song 10800 --gap 3 --songs 1 --tail 10)
            "$soak" gen "${plan[@]}" --wav "$work/long-in.wav"
            "$soak" record --input "$work/long-in.wav" --rate 48000 --bits 32 --out "$work/long" \
                --report "$work/long.report" 2>"$work/long.log"
            rm -f "$work/long-in.wav"
            say "== long: $(grep -E '^seconds_recorded=' "$work/long.report" | cut -d= -f2) s recorded" \
                "in $(grep -E '^wall_seconds=' "$work/long.report" | cut -d= -f2) s (file backend)"
            grep -E '^(end|lost_frames|rss_[a-z_]+|failures|messages|message[0-9]+)=' "$work/long.report" |
                sed 's/^/   /' | tee -a "$summary"
            ls -l "$work/long" | sed 's/^/   /' | tee -a "$summary"
            "$soak" check "${plan[@]}" --out "$work/long" --report "$work/long.report" \
                --songs-expected 1 | tee "$work/long.check" | sed 's/^/   /' | tee -a "$summary"
            grep -q "all checks passed" "$work/long.check" || status=1
            rss_min=$(grep '^rss_kib_min=' "$work/long.report" | cut -d= -f2)
            rss_max=$(grep '^rss_kib_max=' "$work/long.report" | cut -d= -f2)
            if [ $((rss_max - rss_min)) -le 1024 ]; then
                say "   ok   memory flat: resident $rss_min..$rss_max KiB after each minute of audio from the first on"
            else
                say "   FAIL memory grew: resident $rss_min..$rss_max KiB"
                status=1
            fi
            rm -rf "$work/long"
            ;;
        *) echo "unknown run $run" >&2; exit 2 ;;
    esac
done
say "== soak $([ $status = 0 ] && echo passed || echo FAILED)"
exit $status
