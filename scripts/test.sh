#!/usr/bin/env bash
# Installs what is missing, builds everything and runs every test through CTest:
#   0. every C++ source laid out as .clang-format says;
#   1. the normal build (all tests, the window's tests offscreen and under Xvfb);
#   2. every test again under AddressSanitizer + UBSan (leaks inside system libraries that Qt
#      loads are suppressed by scripts/lsan.supp);
#   3. the recording, capture and meter-callback tests under ThreadSanitizer;
#   4. the presets reader and the WAV header reader under libFuzzer for a bounded time.
# Fails when any step fails.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
jobs=${VELLISTO_JOBS:-2}

"$root/scripts/install-deps.sh"

step() { printf '\n=== %s ===\n' "$*"; }

step "layout (clang-format)"
# The tracked sources; a copy without git history checks every source outside the build folders.
if git -C "$root" rev-parse --is-inside-work-tree >/dev/null 2>&1; then
    git -C "$root" ls-files -z '*.cpp' '*.h'
else
    (cd "$root" && find . -path './build*' -prune -o \( -name '*.cpp' -o -name '*.h' \) -print0)
fi | (cd "$root" && xargs -0 clang-format --dry-run -Werror)

step "build"
# Tests and benchmarks on, also in a build folder scripts/run.sh configured without them.
cmake -S "$root" -B "$root/build" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVELLISTO_BUILD_TESTS=ON \
      -DVELLISTO_BUILD_BENCH=ON >/dev/null
cmake --build "$root/build" -j"$jobs"
step "tests"
ctest --test-dir "$root/build" --output-on-failure -j"$jobs"

step "build (address, undefined)"
cmake -S "$root" -B "$root/build-asan" -DCMAKE_BUILD_TYPE=Debug -DVELLISTO_SANITIZE=address,undefined \
      -DVELLISTO_BUILD_BENCH=OFF >/dev/null
cmake --build "$root/build-asan" -j"$jobs"
step "tests (address, undefined)"
LSAN_OPTIONS=suppressions="$root/scripts/lsan.supp" \
    ctest --test-dir "$root/build-asan" --output-on-failure -j"$jobs"

step "build (thread)"
cmake -S "$root" -B "$root/build-tsan" -DCMAKE_BUILD_TYPE=Debug -DVELLISTO_SANITIZE=thread \
      -DVELLISTO_BUILD_UI=OFF -DVELLISTO_BUILD_BENCH=OFF >/dev/null
cmake --build "$root/build-tsan" -j"$jobs"
step "tests (thread)"
ctest --test-dir "$root/build-tsan" --output-on-failure -j"$jobs" -L threads

if [ -f "$root/fuzz/run.sh" ]; then
    step "fuzz"
    "$root/fuzz/run.sh" "$root/build-fuzz"
fi

step "all tests passed"
