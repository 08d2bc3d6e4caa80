#!/usr/bin/env bash
# Starts the viewer on a map (default datas.mvx) through mvx view; with no display, under Xvfb, saving its first frame and a tilted view.
# usage: run.sh BUILD [MAP]
set -eu
build=$(cd "$1" && pwd)
map=${2:-datas.mvx}
if [ -n "${DISPLAY:-}" ]; then
    echo "starting the viewer on $map: drag upwards with the left button to see the relief; q quits"
    exec "$build/mvx" view "$map"
fi
export MORVATH=$build/morvath SHOT=$build/shot
# The end-to-end helpers: the X server and the viewer (scripts/xvfb.sh), and sync_viewer, which
# knows when the viewer has handled what it was sent. They give a scratch directory, $T.
. "$(dirname "$0")/../tests/e2e/lib.sh"
# The viewer's own messages are the user's; the answers to sync_viewer's probe key are not.
trap 'stop_all; grep -vx "Catch! 32" "$T/log" >&2 2>/dev/null || true; rm -rf "$T"' EXIT
echo "no DISPLAY: running the viewer under Xvfb to save what it shows"
start_xvfb
start_viewer "$PWD" "$T/log" "$build/mvx" view "$map" || { : >"$T/log"; exit 1; }  # it has shown the log already
settle
"$SHOT" -w "$WIN" -o morvath.png
echo "first frame saved as $PWD/morvath.png"
tilt_view
sync_viewer
"$SHOT" -w "$WIN" -o morvath-tilted.png
echo "tilted (left drag 60 pixels up, right drag 40 down) saved as $PWD/morvath-tilted.png"
