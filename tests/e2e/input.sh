#!/usr/bin/env bash
# Keys and drags in the real window: pan, wire-frame, a key with no command, turn, scale, quit.
. "$(dirname "$0")/lib.sh"

mkdir "$T/map"
"$TESTMAP" "$T/map/datas.mvx" || exit 1
start_xvfb || exit 1
start_viewer "$T/map" || exit 1
settle || exit 1

# A key with no command: its diagnostic, and the same picture.
before=$("$SHOT" -w "$WIN" --sum)
sync_viewer || exit 1
check "space writes Catch! 32" grep -qx 'Catch! 32' "$T/map/stderr"
check "space changes nothing on screen" [ "$("$SHOT" -w "$WIN" --sum)" = "$before" ]

# '6' pans 10 units: what was drawn at pixel x + 40 is now at x. Column 1294 + i is at pixel 4i + 2.
press 6 || exit 1
for i in 3 61 114; do
    check "after '6' pixel $((4 * i + 2)),202 shows column $((1304 + i))" \
        near "$(cell_rgb $((1304 + i)) 1602)" "$(pixel $((4 * i + 2)),202)"
done
press 4 || exit 1
check "'4' pans back" near "$(cell_rgb 1297 1602)" "$(pixel 14,202)"

# 'j' draws outlines: the inside of a 4-pixel quad is black; 'u' fills it again.
press j || exit 1
check "'j': quad interiors are black" [ "$(pixel 162,202)" = "0 0 0" ]
check "'j': quad edges are drawn" [ "$(pixel 160,200)" != "0 0 0" ]
press u || exit 1
check "'u': filled again" near "$(cell_rgb 1334 1602)" "$(pixel 162,202)"

# A right drag down by 50 pixels halves dist: scale 2 about the centre (column 1369, row 1627).
xdotool mousemove --window "$WIN" 300 300 mousedown 3 mousemove --window "$WIN" 300 325 mousemove --window "$WIN" 300 350 mouseup 3
sync_viewer || exit 1
check "right drag down enlarges: pixel 102,302 shows column 1344" near "$(cell_rgb 1344 1627)" "$(pixel 102,302)"
press r || exit 1
check "'r' restores the scale" near "$(cell_rgb 1318 1627)" "$(pixel 98,302)"

# A left drag turns the square: its corners leave the window's corners black.
check "corner drawn before turning" [ "$(pixel 4,4)" != "0 0 0" ]
xdotool mousemove --window "$WIN" 300 300 mousedown 1 mousemove --window "$WIN" 330 300 mousemove --window "$WIN" 345 300 mouseup 1
sync_viewer || exit 1
check "left drag turns: the corner is black" [ "$(pixel 4,4)" = "0 0 0" ]
check "left drag turns: the centre still shows the centre cell" near "$(cell_rgb 1369 1627)" "$(pixel 300,300)"

# 'q' and Escape each end the viewer with status 0.
for k in q Escape; do
    xdotool key --window "$WIN" "$k" 2>/dev/null  # the window may be gone before the key is released
    status=timeout
    for _ in $(seq 100); do
        if ! kill -0 "$VIEWER_PID" 2>/dev/null; then wait "$VIEWER_PID"; status=$?; break; fi
        sleep 0.05
    done
    VIEWER_PID=
    check "'$k' ends the viewer with status 0 (got $status)" [ "$status" = 0 ]
    [ "$k" = q ] && { start_viewer "$T/map" && settle || exit 1; }
done

finish
