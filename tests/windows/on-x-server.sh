#!/bin/sh
# Runs a Qt test program on a fresh Xvfb with the xcb platform; exits 77
# (skipped) with a message when no X server can be started.
command -v xvfb-run >/dev/null || { echo "SKIP: xvfb-run is not installed"; exit 77; }
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
# The marker tells a failing test from an X server that never started.
xvfb-run -a -e "$scratch/xvfb.log" -s "-screen 0 1280x1024x24 -dpi 96" \
    sh -c ': >"$1/started"; shift; QT_QPA_PLATFORM=xcb exec "$@"' sh "$scratch" "$@"
status=$?
[ -e "$scratch/started" ] || { echo "SKIP: no X server started: $(cat "$scratch/xvfb.log" 2>/dev/null)"; exit 77; }
exit "$status"
