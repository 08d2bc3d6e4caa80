#!/usr/bin/env bash
# Makes the README's pictures in docs/: the default world tilted, filled and in wire-frame, and a real DEM imported by mvx, tilted and whole.
# usage: scripts/pictures.sh BUILD (make pictures builds BUILD's morvath, mvx and shot first)
set -eu
build=$(cd "$1" && pwd)
root=$(cd "$(dirname "$0")/.." && pwd)
export MORVATH=$build/morvath SHOT=$build/shot
# The X server and the viewer, sync_viewer and press, a scratch directory $T removed at exit.
. "$root/tests/e2e/lib.sh"
step() { "$root/scripts/step.sh" "$T/log" "$@"; }

# Starts the viewer on DIR/datas.mvx in a fresh X server, with the tilt the README describes.
view_tilted() {
    stop_all
    start_xvfb
    start_viewer "$1"
    catches=0  # sync_viewer counts its answers in this viewer's log
    settle
    tilt_view
    sync_viewer
}

shoot() {
    "$SHOT" -w "$WIN" -o "$root/docs/$1"
    echo "wrote docs/$1"
}

mkdir "$T/world" "$T/dem"
step "generating the default world" "$build/mvx" generate -o "$T/world/datas.mvx"
view_tilted "$T/world"
shoot tilted.png
press j
shoot wireframe.png

# The DEM the tests use, kept in the build tree as they keep it.
step "fetching the DEM (r-cran-terra's elev.tif)" sh "$root/tests/fetch-dem.sh" "$build/dem"
[ -s "$build/dem/elev.tif" ] || { cat "$T/log" >&2; echo "no DEM, so no docs/dem.png" >&2; exit 1; }
step "importing it with mvx import" "$build/mvx" import "$build/dem/elev.tif" -o "$T/dem/datas.mvx"
step "exporting the whole map" "$build/mvx" export "$T/dem/datas.mvx" --scale 6 -o "$root/docs/dem-map.png"
echo "wrote docs/dem-map.png"
# Zoomed out to 4 cells a view unit, as the small DEM is spread over thousands of cells, then
# moved right onto the data (mvx import says the first view shows only the margin) and tilted.
stop_all
start_xvfb
start_viewer "$T/dem"
catches=0
settle
press k k k
for _ in $(seq 35); do xdotool key --window "$WIN" 6 2>/dev/null; done
sync_viewer
tilt_view
sync_viewer
shoot dem.png
