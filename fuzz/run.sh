#!/usr/bin/env bash
# Builds the presets-file, WAV-header and cut-list fuzzers with clang and runs each for a bounded
# time (over the committed seed corpora). Usage: fuzz/run.sh BUILD_DIR [SECONDS].
# Exits non-zero when it finds a fault.
set -euo pipefail
src=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$src/build-fuzz}
seconds=${2:-${VELLISTO_FUZZ_SECONDS:-60}}

CC=clang CXX=clang++ cmake -S "$src" -B "$build" -DVELLISTO_BUILD_FUZZ=ON -DVELLISTO_BUILD_UI=OFF \
    -DVELLISTO_BUILD_BENCH=OFF >/dev/null
cmake --build "$build" --target presets_fuzz wav_header_fuzz cuts_fuzz -j"${VELLISTO_JOBS:-2}"
mkdir -p "$build/presets-corpus"
"$build/fuzz/presets_fuzz" -max_total_time="$seconds" -max_len=4096 -print_final_stats=1 \
    "$build/presets-corpus" "$src/fuzz/corpus/presets" 2>&1 | tail -n 15
mkdir -p "$build/wav-corpus"
"$build/fuzz/wav_header_fuzz" -max_total_time="$seconds" -max_len=4096 -print_final_stats=1 \
    "$build/wav-corpus" "$src/fuzz/corpus/wav" 2>&1 | tail -n 15
mkdir -p "$build/cuts-corpus"
"$build/fuzz/cuts_fuzz" -max_total_time="$seconds" -max_len=4096 -print_final_stats=1 \
    "$build/cuts-corpus" "$src/fuzz/corpus/cuts" 2>&1 | tail -n 15
