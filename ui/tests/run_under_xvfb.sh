#!/bin/sh
# Runs a test program on a private Xvfb display (the server picks a free display number) with a
# window manager, as a desktop has one: windows get frames and are placed by it. The screen is
# 1024x768 unless VELLISTO_XVFB_SCREEN gives another size (WIDTHxHEIGHT).
# Exits 77, which CTest counts as skipped, when Xvfb, openbox, xterm or xdotool is not installed.
set -u
for tool in Xvfb openbox xterm xdotool; do
    command -v "$tool" >/dev/null 2>&1 || { echo "SKIP: $tool is not installed"; exit 77; }
done
dir=$(mktemp -d)
Xvfb -displayfd 3 -screen 0 "${VELLISTO_XVFB_SCREEN:-1024x768}x24" -nolisten tcp \
    3>"$dir/display" >/dev/null 2>&1 &
server=$!
wm=
trap 'kill $wm $server 2>/dev/null; wait $wm $server 2>/dev/null; rm -rf "$dir"' EXIT
i=0
until [ -s "$dir/display" ] && DISPLAY=":$(cat "$dir/display")" xdotool getdisplaygeometry >/dev/null 2>&1; do
    i=$((i + 1))
    if [ $i -gt 100 ]; then echo "Xvfb did not start"; exit 1; fi
    sleep 0.1
done
DISPLAY=":$(cat "$dir/display")"
export DISPLAY
unset QT_QPA_PLATFORM WAYLAND_DISPLAY
# openbox runs the startup command once it manages the screen. Its own configuration, not the
# developer's.
XDG_CONFIG_HOME="$dir" openbox --sm-disable --startup "touch $dir/wm" >/dev/null 2>&1 &
wm=$!
i=0
until [ -e "$dir/wm" ]; do
    i=$((i + 1))
    if [ $i -gt 100 ]; then echo "openbox did not start"; exit 1; fi
    sleep 0.1
done
"$@"
