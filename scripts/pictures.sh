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

# view_tilted DIR [KEY...]: starts the viewer on DIR/datas.mvx in a fresh X server, presses the
# keys, then tilts the view as the README describes.
view_tilted() {
    stop_all
    start_xvfb
    start_viewer "$1"
    shift
    catches=0  # sync_viewer counts its answers in this viewer's log
    settle
    [ $# -eq 0 ] || press "$@"
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

# A DEM with relief that the tests use, kept in the build tree as they keep it: 403 x 344 samples
# of 3 arc-seconds, about 30 x 32 km of ridges and valleys.
step "fetching the DEM (python-matplotlib-data's jacksboro_fault_dem.npz)" \
    sh "$root/tests/fetch-dem.sh" "$build/dem" "$build/npz_to_geotiff"
[ -s "$build/dem/jacksboro.tif" ] || { cat "$T/log" >&2; echo "no DEM, so no docs/dem.png" >&2; exit 1; }
step "importing it with mvx import" "$build/mvx" import "$build/dem/jacksboro.tif" -o "$T/dem/datas.mvx"
step "exporting the whole map" "$build/mvx" export "$T/dem/datas.mvx" --scale 6 -o "$root/docs/dem-map.png"
echo "wrote docs/dem-map.png"
# Up close as a user looks at it: k twice (3 cells a view unit), 4 ten times and 2 thirty-eight
# times (to the data's west edge, where it meets the void margin), then the README's two drags.
view_tilted "$T/dem" k k $(printf '4 %.0s' $(seq 10)) $(printf '2 %.0s' $(seq 38))
shoot dem.png
