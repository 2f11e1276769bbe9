#!/bin/sh
# Runs a test program on a private Xvfb display (the server picks a free display number).
# Exits 77, which CTest counts as skipped, when Xvfb, xterm or xdotool is not installed.
set -u
for tool in Xvfb xterm xdotool; do
    command -v "$tool" >/dev/null 2>&1 || { echo "SKIP: $tool is not installed"; exit 77; }
done
dir=$(mktemp -d)
Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp 3>"$dir/display" >/dev/null 2>&1 &
server=$!
trap 'kill $server 2>/dev/null; wait $server 2>/dev/null; rm -rf "$dir"' EXIT
i=0
until [ -s "$dir/display" ] && DISPLAY=":$(cat "$dir/display")" xdotool getdisplaygeometry >/dev/null 2>&1; do
    i=$((i + 1))
    if [ $i -gt 100 ]; then echo "Xvfb did not start"; exit 1; fi
    sleep 0.1
done
DISPLAY=":$(cat "$dir/display")"
export DISPLAY
unset QT_QPA_PLATFORM WAYLAND_DISPLAY
"$@"
