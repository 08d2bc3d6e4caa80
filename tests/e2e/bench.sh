#!/usr/bin/env bash
# The benchmark's instruments on a generated map: the floor draws the viewer's picture, our code allocates
# nothing while frames are drawn, the start-up stamp reports, and the import input is a 16-bit PNG.
. "$(dirname "$0")/lib.sh"

"$MVX" generate -o "$T/datas.mvx" 2>/dev/null || { fail "mvx generate"; finish; }
start_xvfb || exit 1

"$BENCH_FRAME" "$T/datas.mvx" 0.05 40 >"$T/frame" 2>"$T/frame.err" || fail "bench_frame: $(cat "$T/frame.err")"
for want in "1 1 22500" "2 1 5625" "4 1 1444" "8 1 361" "16 1 100" "1 1000 22500"; do
    set -- $want
    line=$(awk -v p="$1" -v z="$2" '$1 == "frame" && $2 == p && $3 == z' "$T/frame")
    read -r _ _ _ quads _ _ _ _ _ _ lit diff <<<"$line"
    check "pas $1 zoom $2: $3 quads (got ${quads:-none})" [ "${quads:-}" = "$3" ]
    check "pas $1 zoom $2: the viewer's frame is not black (lit pixels: ${lit:-none})" [ "${lit:-0}" -gt 0 ]
    check "pas $1 zoom $2: the floor draws the same picture (differing pixels: ${diff:-none})" [ "${diff:-x}" = 0 ]
done
read -r _ vf va ff fa own < <(grep '^allocs ' "$T/frame")
check "no allocation by our code in ${vf:-no} viewer frames (got ${own:-none})" test "${vf:-0}" -ge 40 -a "${own:-x}" = 0
# The driver allocates about once a quad for both, give or take its own bookkeeping.
check "the viewer's frames allocate as the floor's do (viewer $va in $vf frames, floor $fa in $ff)" \
    awk -v vf="${vf:-0}" -v va="${va:-0}" -v ff="${ff:-0}" -v fa="${fa:-0}" \
        'BEGIN { exit !(vf > 0 && ff > 0 && va / vf - fa / ff < 0.5) }'
read -r _ events event_allocs < <(grep '^events ' "$T/frame")
check "no allocation in ${events:-no} input events (got ${event_allocs:-none})" test "${events:-0}" -gt 0 -a "${event_allocs:-x}" = 0

mkdir "$T/run"
ln -s "$T/datas.mvx" "$T/run/datas.mvx"
(cd "$T/run" && exec "$STARTCLOCK" "$FIRSTFRAME" "$T/first" "$MORVATH") 2>"$T/viewer.err" &
VIEWER_PID=$!
for _ in $(seq 400); do
    [ -s "$T/first" ] && break
    kill -0 "$VIEWER_PID" 2>/dev/null || break
    sleep 0.025
done
read -r ns hwm anon file <"$T/first" 2>/dev/null
check "start-up stamp: a time to the first frame (got ${ns:-none} ns)" [ "${ns:-0}" -gt 0 ]
check "start-up stamp: the grid is resident (peak ${hwm:-none} KiB, anonymous ${anon:-none} KiB)" \
    test "${hwm:-0}" -ge 73728 -a "${anon:-0}" -ge 73728 -a "${file:-0}" -gt 0
stop_all

"$HEIGHTPNG" "$T/h.png" || fail "bench_heightpng"
# IHDR: width 4096, height 4096, bit depth 16, colour type 0 (grey), no interlace.
check "height image header: 4096 x 4096, 16-bit grey" \
    [ "$(od -An -tx1 -j12 -N17 "$T/h.png" | tr -d ' \n')" = 4948445200001000000010001000000000 ]

finish
