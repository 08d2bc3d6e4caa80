#!/usr/bin/env bash
# The viewer's start: its window and first frame on a map whose colours encode position; a missing map.
. "$(dirname "$0")/lib.sh"

# A missing map stops the viewer before it touches the display: with a display that cannot
# be opened, only our own message may appear.
mkdir "$T/empty"
( cd "$T/empty" && DISPLAY=:none exec "$MORVATH" ) 2>"$T/empty/stderr"
status=$?
check "missing map: exit status 1 (got $status)" [ "$status" -eq 1 ]
check "missing map: one line naming the file, the cause and the fix" \
    grep -qx 'morvath: datas.mvx: cannot open: No such file or directory (make one with: mvx generate)' "$T/empty/stderr"
check "missing map: nothing else on standard error" [ "$(wc -l <"$T/empty/stderr")" -eq 1 ]

mkdir "$T/map"
"$TESTMAP" "$T/map/datas.mvx" || exit 1
start_xvfb || exit 1
start_viewer "$T/map" || exit 1
check "window titled Morvath" [ "$(xdotool getwindowname "$WIN")" = Morvath ]
geom=$(xdotool getwindowgeometry "$WIN" | sed -n 's/.*Geometry: //p')
check "window is 600x600 (got $geom)" [ "$geom" = 600x600 ]
settle || exit 1

# Quad i of the first frame covers pixels 4i … 4i+4 and shows cell column 1294 + i (row 1552 + j).
# Pick pixels inside 8 × 8 blocks, away from block edges where colours blend.
pts=() want=()
for i in 3 40 77 114 146; do
    for j in 5 50 97 140; do
        x=$((1294 + i)) y=$((1552 + j))
        pts+=("$((4 * i + 2)),$((4 * j + 2))")
        want+=("$(((x / 8) % 32 * 8)) $(((y / 8) % 32 * 8)) $(((x / 256 + y / 256) % 32 * 8))")
    done
done
mapfile -t got < <("$SHOT" -w "$WIN" "${pts[@]}")
for k in "${!pts[@]}"; do
    check "pixel ${pts[$k]} shows its cell: want ${want[$k]}, got ${got[$k]:-none}" near "${want[$k]}" "${got[$k]:-}"
done
check "nothing on standard error" [ ! -s "$T/map/stderr" ]

finish
