#!/usr/bin/env bash
# Installs what is missing, builds the recorder and starts it. Without a graphical display the
# recorder says so and points to the command-line splitter, which is built too.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)

"$root/scripts/install-deps.sh"
cmake -S "$root" -B "$root/build" -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$root/build" -j"${VELLISTO_JOBS:-2}" --target vellisto vellisto-split
echo "Starting $root/build/app/vellisto (the splitter is $root/build/split/vellisto-split)"
exec "$root/build/app/vellisto" "$@"
