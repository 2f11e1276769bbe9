#!/usr/bin/env bash
# Installs what is missing, builds everything and runs every test through CTest:
#   0. every C++ source laid out as .clang-format says;
#   1. the normal build (all tests, the window's tests offscreen and under Xvfb);
#   2. every test again under AddressSanitizer + UBSan (leaks inside system libraries that Qt
#      loads are suppressed by scripts/lsan.supp);
#   3. the recording, capture and meter-callback tests under ThreadSanitizer;
#   4. the presets reader, the WAV header reader and the cut-list reader (with the FLAC tag
#      writer) under libFuzzer for a bounded time, side by side, beside step 3.
# Each step's tests run while the next step builds: tests mostly wait for devices, processes
# and threads, which leaves the cores to the compiler. Their output is shown whole, in order,
# when they end. Fails when any step fails.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
jobs=${VELLISTO_JOBS:-2}

"$root/scripts/install-deps.sh" test

step() { printf '\n=== %s ===\n' "$*"; }

# Background steps, each in a process group of its own (set -m) so that a failure elsewhere
# stops all of it, its output kept until it is waited for.
set -m
logs=$(mktemp -d)
declare -A pids=()
stop_all() {
    for pid in "${pids[@]}"; do kill -- -"$pid" 2>/dev/null || true; done
    rm -rf "$logs"
}
trap stop_all EXIT
in_background() {
    local name=$1
    shift
    "$@" >"$logs/$name" 2>&1 &
    pids[$name]=$!
}
finish() {
    local name=$1 status=0
    wait "${pids[$name]}" || status=$?
    unset "pids[$name]"
    step "$name"
    cat "$logs/$name"
    if [ "$status" -ne 0 ]; then
        echo "FAILED: $name (exit status $status)"
        exit "$status"
    fi
}

step "layout (clang-format)"
# The tracked sources; a copy without git history checks every source outside the build folders.
if git -C "$root" rev-parse --is-inside-work-tree >/dev/null 2>&1; then
    git -C "$root" ls-files -z '*.cpp' '*.h'
else
    (cd "$root" && find . -path './build*' -prune -o \( -name '*.cpp' -o -name '*.h' \) -print0)
fi | (cd "$root" && xargs -0 clang-format --dry-run -Werror)

step "build"
# Tests and benchmarks named explicitly: scripts/run.sh configures a new build folder without them.
# Every build here is a unity build (each target's sources compiled a few together: the headers
# they share are parsed once) with line tables only (-g1): a stack still names files and lines.
# The window and its tests, one program a source, share precompiled Qt headers.
# Every program is linked by gold, which links a test program in a fifth of the default linker's
# time.
gold=(-DCMAKE_EXE_LINKER_FLAGS=-fuse-ld=gold -DCMAKE_SHARED_LINKER_FLAGS=-fuse-ld=gold)
# New build folders are built by Ninja, which keeps both cores busy across targets (make waits at
# each target's end); a folder made before keeps its generator.
generator() { if [ ! -f "$1/CMakeCache.txt" ]; then echo "-GNinja"; else echo "-Wno-dev"; fi; }
cmake "$(generator "$root/build")" -S "$root" -B "$root/build" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
      -DVELLISTO_BUILD_TESTS=ON \
      -DVELLISTO_BUILD_BENCH=ON -DCMAKE_UNITY_BUILD=ON -DVELLISTO_QT_PCH=ON "${gold[@]}" \
      "-DCMAKE_CXX_FLAGS_RELWITHDEBINFO=-O2 -g1 -DNDEBUG" \
      "-DCMAKE_C_FLAGS_RELWITHDEBINFO=-O2 -g1 -DNDEBUG" >/dev/null
cmake --build "$root/build" -j"$jobs"
in_background "tests" ctest --test-dir "$root/build" --output-on-failure -j"$jobs"

# The sanitizer builds keep line tables only (-g1): enough for every report's stack to name
# files and lines, at a fraction of the compile and link time of full debug information. Their
# test programs share precompiled GoogleTest and Qt headers.
sanitizer_build=(-DCMAKE_CXX_FLAGS_DEBUG=-g1 -DCMAKE_C_FLAGS_DEBUG=-g1 -DVELLISTO_PCH=ON
                 -DCMAKE_UNITY_BUILD=ON "${gold[@]}")

step "build (address, undefined)"
cmake "$(generator "$root/build-asan")" -S "$root" -B "$root/build-asan" -DCMAKE_BUILD_TYPE=Debug \
      -DVELLISTO_SANITIZE=address,undefined \
      -DVELLISTO_BUILD_BENCH=OFF "${sanitizer_build[@]}" >/dev/null
cmake --build "$root/build-asan" -j"$jobs"
finish "tests"
in_background "tests (address, undefined)" env LSAN_OPTIONS=suppressions="$root/scripts/lsan.supp" \
    ctest --test-dir "$root/build-asan" --output-on-failure -j"$jobs"

if [ -f "$root/fuzz/run.sh" ]; then
    step "build (fuzz)"
    "$root/fuzz/run.sh" "$root/build-fuzz" 0
    # Their bound is a time, not a number of runs: at the lowest priority they take what the
    # builds and tests beside them leave of the two cores.
    in_background "fuzz" nice -n 19 "$root/fuzz/run.sh" "$root/build-fuzz"
fi

step "build (thread)"
# Only the programs the ThreadSanitizer run has: those labelled "threads".
cmake "$(generator "$root/build-tsan")" -S "$root" -B "$root/build-tsan" -DCMAKE_BUILD_TYPE=Debug \
      -DVELLISTO_SANITIZE=thread \
      -DVELLISTO_BUILD_UI=OFF -DVELLISTO_BUILD_BENCH=OFF "${sanitizer_build[@]}" >/dev/null
cmake --build "$root/build-tsan" -j"$jobs" --target vellisto_thread_tests
# Beside the end of the sanitizer tests before them: both mostly wait on threads and devices.
in_background "tests (thread)" ctest --test-dir "$root/build-tsan" --output-on-failure -j"$jobs" -L threads
finish "tests (address, undefined)"
finish "tests (thread)"
if [ -n "${pids[fuzz]:-}" ]; then finish "fuzz"; fi

step "all tests passed"
