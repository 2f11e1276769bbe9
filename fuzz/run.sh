#!/usr/bin/env bash
# Builds the presets-file, WAV-header and cut-list fuzzers with clang and runs each for a bounded
# time (over the committed seed corpora). Usage: fuzz/run.sh BUILD_DIR [SECONDS]; 0 seconds only
# builds them.
# Exits non-zero when it finds a fault.
set -euo pipefail
src=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$src/build-fuzz}
seconds=${2:-${VELLISTO_FUZZ_SECONDS:-60}}

# A new build folder is a Ninja unity build, as scripts/test.sh's others; one made before keeps
# its generator.
generator=-Wno-dev
if [ ! -f "$build/CMakeCache.txt" ]; then generator=-GNinja; fi
CC=clang CXX=clang++ cmake "$generator" -S "$src" -B "$build" -DVELLISTO_BUILD_FUZZ=ON \
    -DVELLISTO_BUILD_UI=OFF -DVELLISTO_BUILD_BENCH=OFF -DCMAKE_UNITY_BUILD=ON >/dev/null
cmake --build "$build" --target presets_fuzz wav_header_fuzz cuts_fuzz -j"${VELLISTO_JOBS:-2}"
if [ "$seconds" = 0 ]; then exit 0; fi
# The three run side by side, each on its own corpus, their reports shown in turn: the bound is
# then the time of one.
fuzz() {
    local name=$1 corpus=$2
    mkdir -p "$build/$corpus-corpus"
    "$build/fuzz/$name" -max_total_time="$seconds" -max_len=4096 -print_final_stats=1 \
        "$build/$corpus-corpus" "$src/fuzz/corpus/$corpus" >"$build/$name.log" 2>&1
}
fuzz presets_fuzz presets & presets=$!
fuzz wav_header_fuzz wav & wav=$!
fuzz cuts_fuzz cuts & cuts=$!
status=0
for job in "presets_fuzz $presets" "wav_header_fuzz $wav" "cuts_fuzz $cuts"; do
    set -- $job
    wait "$2" || status=1
    echo "--- $1"
    tail -n 15 "$build/$1.log"
done
exit $status
