#!/usr/bin/env bash
# Installs what is missing of what the recorder needs (no test tools), builds the recorder and
# starts it. Without a graphical display the recorder says so and points to the command-line
# splitter, which is built too.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)

"$root/scripts/install-deps.sh" run
# A first configure leaves the tests and benchmarks out: their libraries come with the test set
# of packages only. A build folder scripts/test.sh has configured keeps them.
options=()
if [ ! -f "$root/build/CMakeCache.txt" ]; then
    options=(-DVELLISTO_BUILD_TESTS=OFF -DVELLISTO_BUILD_BENCH=OFF)
fi
cmake -S "$root" -B "$root/build" -DCMAKE_BUILD_TYPE=RelWithDebInfo "${options[@]}" >/dev/null
cmake --build "$root/build" -j"${VELLISTO_JOBS:-2}" --target vellisto vellisto-split
echo "Starting $root/build/app/vellisto (the splitter is $root/build/split/vellisto-split)"
exec "$root/build/app/vellisto" "$@"
