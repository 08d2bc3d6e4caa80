#!/usr/bin/env bash
# Starts the viewer on datas.mvx in the current directory; with no display, under Xvfb, saving the first frame.
set -eu
build=$1
if [ -n "${DISPLAY:-}" ]; then
    exec "$build/morvath"
fi
export MORVATH=$PWD/$build/morvath SHOT=$PWD/$build/shot
. "$(dirname "$0")/xvfb.sh"
log=$(mktemp)
trap 'stop_all; cat "$log" >&2; rm -f "$log"' EXIT
echo "no DISPLAY: running the viewer under Xvfb to capture its first frame"
start_xvfb
start_viewer "$PWD" "$log"
settle
"$SHOT" -w "$WIN" -o morvath.png
echo "first frame saved as $PWD/morvath.png"
