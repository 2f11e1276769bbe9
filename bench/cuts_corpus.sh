#!/bin/sh
# How right the cuts are, on two sides built from Debian's drascula-music (free game music)
# whose true gaps are known:
#
# - quiet: eight tracks 18 dB down, each with a 2 s passage 20 dB further down in its middle,
#   gaps of 2.4 to 8.3 s, all under hiss at -52 dB RMS (a quiet orchestral side on vinyl);
# - segues: six tracks that run into each other: each fades out over its last second into
#   0.3 s of hiss, the next fades in over half a second (joins under a second).
#
# Each side is split with --list by mode: the defaults, the probe's suggestion, --gap-level
# auto --end-gap auto, --songs N, and a track list whose times are off by up to 5 s (fixed
# seed); beside ffmpeg's silencedetect at the default level and Gap Size (a gap is its
# silence's middle). sox's silence effect drops the silence it finds, so its cut positions
# cannot be told; its file count is shown. A true gap counts as cut when a cut lies in it or in
# the last 2 s of the fading music before it (a segue's join: within a second of it); other
# cuts are false.
#
#   cuts_corpus.sh PATH/TO/vellisto-split [WORK_DIR]
set -eu

split=${1:?usage: cuts_corpus.sh PATH/TO/vellisto-split [WORK_DIR]}
split=$(cd "$(dirname "$split")" && pwd)/$(basename "$split")
. "$(dirname "$0")/workdir.sh"
bench_work_dir corpus "${2:-}"
music=/usr/share/scummvm/drascula/audio
[ -d "$music" ] || { echo "cuts_corpus: install drascula-music" >&2; exit 1; }
for tool in sox soxi ffmpeg awk; do
    command -v "$tool" >/dev/null || { echo "cuts_corpus: $tool is needed" >&2; exit 1; }
done
cd "$work"

# A track decoded, its own leading and trailing silence taken off.
track() {
    sox "$music/track$1.ogg" -r 44100 -c 2 -b 16 "$2" \
        silence 1 0.05 -60d reverse silence 1 0.05 -60d reverse
}
# Digital silence of $1 seconds.
quiet() { sox -n -r 44100 -c 2 -b 16 "$2" trim 0 "$1"; }
len() { soxi -D "$1"; }

if [ ! -f quiet.wav ]; then
    echo "building the quiet side ..."
    set --
    at=0
    : >quiet.truth
    quiet 1 lead.wav
    set -- lead.wav
    at=1
    k=0
    for t in 2 1 30 23 26 24 11 14; do
        k=$((k + 1))
        track "$t" raw.wav
        half=$(awk -v l="$(len raw.wav)" 'BEGIN { printf "%.3f", l / 2 - 1 }')
        sox raw.wav a.wav trim 0 "$half" vol -18dB
        sox raw.wav b.wav trim "$half" 2 vol -38dB
        sox raw.wav c.wav trim "$(awk -v h="$half" 'BEGIN { print h + 2 }')" vol -18dB
        sox a.wav b.wav c.wav "song$k.wav"
        set -- "$@" "song$k.wav"
        at=$(awk -v a="$at" -v l="$(len "song$k.wav")" 'BEGIN { printf "%.3f", a + l }')
        gap=$(echo "2.4 3.1 4.0 5.2 6.0 7.1 8.3 10" | cut -d' ' -f"$k")
        quiet "$gap" "gap$k.wav"
        set -- "$@" "gap$k.wav"
        # The last stretch is the run-out, no gap between songs.
        [ "$k" -lt 8 ] && echo "$at $(awk -v a="$at" -v g="$gap" 'BEGIN { print a + g }')" >>quiet.truth
        at=$(awk -v a="$at" -v g="$gap" 'BEGIN { printf "%.3f", a + g }')
    done
    sox "$@" clean.wav
    sox -n -r 44100 -c 2 -b 16 hiss.wav synth "$(len clean.wav)" whitenoise vol -47.2dB
    sox -m -v 1 clean.wav -v 1 hiss.wav quiet.wav
    rm -f raw.wav a.wav b.wav c.wav song*.wav gap*.wav lead.wav clean.wav hiss.wav
fi

if [ ! -f segues.wav ]; then
    echo "building the side of segues ..."
    : >segues.truth
    : >segues.txt
    set --
    at=0
    k=0
    seed=7
    for t in 16 9 18 5 3 15; do
        k=$((k + 1))
        track "$t" raw.wav
        sox raw.wav "song$k.wav" fade t 0.5 "$(len raw.wav)" 1
        set -- "$@" "song$k.wav"
        at=$(awk -v a="$at" -v l="$(len "song$k.wav")" 'BEGIN { printf "%.3f", a + l }')
        length=$(len "song$k.wav")
        if [ "$k" -lt 6 ]; then
            sox -n -r 44100 -c 2 -b 16 "join$k.wav" synth 0.3 whitenoise vol -47.2dB
            set -- "$@" "join$k.wav"
            echo "$(awk -v a="$at" 'BEGIN { print a + 0.15 }')" >>segues.truth
            at=$(awk -v a="$at" 'BEGIN { printf "%.3f", a + 0.3 }')
            length=$(awk -v l="$length" 'BEGIN { print l + 0.3 }')
        fi
        # The sleeve's time: rounded, and off by up to 5 s (a fixed sequence).
        seed=$(( (seed * 1103515245 + 12345) % 2147483648 ))
        off=$(( seed % 11 - 5 ))
        awk -v k="$k" -v l="$length" -v o="$off" \
            'BEGIN { s = int(l + 0.5) + o; printf "A%d. Track %d %d:%02d\n", k, k, s / 60, s % 60 }' \
            >>segues.txt
    done
    sox "$@" segues.wav
    rm -f raw.wav song*.wav join*.wav
fi
# The quiet side's track list: its real lengths, off by up to 5 s the other way round.
if [ ! -f quiet.txt ]; then
    awk 'BEGIN { prev = 1 } { n++; s = $1 - prev; prev = $2; o = (n * 7) % 11 - 5;
                              t = int(s + 0.5) + o; printf "%d. Movement %d %d:%02d\n", n, n, t / 60, t % 60 }
         END { }' quiet.truth >quiet.txt
    # The last song runs to the run-out: its time from the side's length.
    last=$(awk -v l="$(len quiet.wav)" 'END { printf "%d", l - $2 - 10 }' quiet.truth)
    awk -v s="$last" 'BEGIN { printf "8. Movement 8 %d:%02d\n", s / 60, s % 60 }' >>quiet.txt
fi

# The listing's song starts after the first, in seconds.
starts() {
    awk '/^  song / { rows = 1; next } /^  (gap|End Gap)/ { rows = 0 }
         rows && NF >= 3 && $1 ~ /^[0-9]+$/ && $1 > 1 {
             split($2, t, ":"); print t[1] * 60 + t[2] }'
}
# Scores the cuts on standard input against side $1's truth: "cut missed false".
score() {
    awk -v truth="$1.truth" -v kind="$1" '
        BEGIN { while ((getline line < truth) > 0) { n++; split(line, f, " ");
                    a[n] = f[1]; b[n] = (f[2] == "" ? f[1] : f[2]);
                    if (kind == "segues") { a[n] -= 1; b[n] += 1 } else { a[n] -= 2; b[n] += 0.5 } } }
        { c++; hit = 0; for (i = 1; i <= n; i++) if ($1 >= a[i] - 0.05 && $1 <= b[i] + 0.05) { hit = 1; got[i] = 1 }
          if (!hit) bad++ }
        END { for (i = 1; i <= n; i++) cut += got[i]; printf "%d/%d %d %d", cut, n, n - cut, bad }'
}

printf '%-8s %-34s %8s %7s %6s\n' side mode "gaps cut" missed false
for side in quiet segues; do
    songs=$(($(wc -l <"$side.truth") + 1))
    row() { printf '%-8s %-34s %8s %7s %6s\n' "$side" "$1" $2; }
    row "default" "$("$split" --list "$side.wav" | starts | score "$side")"
    command=$("$split" --probe "$side.wav" | tail -n 1)
    case "$command" in
        *vellisto-split*)
            # The probe's own command line, run as --list.
            set -- $(echo "$command" | sed "s/^ *vellisto-split//; s/'[^']*'\$//")
            row "probe's suggestion" "$("$split" --list "$@" "$side.wav" | starts | score "$side")"
            ;;
        *) row "probe's suggestion" "(none) - -" ;;
    esac
    auto=$("$split" --list --gap-level auto --end-gap auto "$side.wav" 2>/dev/null || true)
    if [ -n "$auto" ]; then
        row "--gap-level/--end-gap auto" "$(echo "$auto" | starts | score "$side")"
    else
        row "--gap-level/--end-gap auto" "(none) - -"
    fi
    row "--songs $songs" "$("$split" --list --songs "$songs" "$side.wav" | starts | score "$side")"
    row "--names (times off by <= 5 s)" \
        "$("$split" --list --names "$side.txt" "$side.wav" 2>/dev/null | starts | score "$side")"
    row "ffmpeg silencedetect -35 dB 1 s" "$(ffmpeg -nostdin -hide_banner -i "$side.wav" \
        -af silencedetect=n=-35dB:d=1 -f null - 2>&1 |
        awk '/silence_start/ { s = $NF } /silence_end/ { split($0, f, "silence_end: "); split(f[2], e, " ");
             if (s > 0.5) print (s + e[1]) / 2 }' | score "$side")"
    rm -rf sox && mkdir sox
    sox "$side.wav" sox/song.wav silence 1 0.1 -35d 1 1.0 -35d : newfile : restart
    row "sox silence -35 dB 1 s (files)" "$(ls sox | wc -l) - -"
done
