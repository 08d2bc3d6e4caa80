#!/usr/bin/env bash
# The benchmark's instruments on a generated map: the floor draws the viewer's picture, our code allocates
# nothing while frames are drawn, the start-up stamp reports, the import inputs are a 16-bit PNG and
# GeoTIFFs that GDAL reads back, and the memory launcher reports a process's peak and exit status.
. "$(dirname "$0")/lib.sh"

"$RSS" "$T/generate.rss" "$MVX" generate -o "$T/datas.mvx" 2>/dev/null || { fail "mvx generate"; finish; }
read -r ns kib status cpu <"$T/generate.rss"
check "memory launcher: mvx generate ran ${ns:-no} ns on ${cpu:-no} ns of CPU, status ${status:-none}, peak ${kib:-none} KiB (the 72 MiB map and more)" \
    test "${ns:-0}" -gt 0 -a "${cpu:-0}" -gt 0 -a "${status:-x}" = 0 -a "${kib:-0}" -ge 73728 -a "${kib:-0}" -lt 4194304
for want in "3 exit 3" "137 kill -9 \$\$" "127 no_such_program"; do
    set -- $want
    if [ "$2" = no_such_program ]; then "$RSS" "$T/s.rss" "$T/$2" 2>/dev/null; else "$RSS" "$T/s.rss" sh -c "${want#* }"; fi
    got=$?
    read -r _ _ status _ <"$T/s.rss"
    check "memory launcher: '${want#* }' gives status $1 (exit $got, reported ${status:-none})" [ "$got:${status:-}" = "$1:$1" ]
done
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
wait_file "$T/first" "$VIEWER_PID" 400 0.025
read -r ns hwm anon file <"$T/first" 2>/dev/null
check "start-up stamp: a time to the first frame (got ${ns:-none} ns)" [ "${ns:-0}" -gt 0 ]
check "start-up stamp: the grid is resident (peak ${hwm:-none} KiB, anonymous ${anon:-none} KiB)" \
    test "${hwm:-0}" -ge 73728 -a "${anon:-0}" -ge 73728 -a "${file:-0}" -gt 0
stop_all

"$HEIGHTPNG" "$T/h.png" || fail "bench_heightpng"
# IHDR: width 4096, height 4096, bit depth 16, colour type 0 (grey), no interlace.
check "height image header: 4096 x 4096, 16-bit grey" \
    [ "$(od -An -tx1 -j12 -N17 "$T/h.png" | tr -d ' \n')" = 4948445200001000000010001000000000 ]

# The GeoTIFF inputs at tiny sizes, as GDAL reads them back: size, type, tiles, place, voids and relief.
"$TERRAINTIF" "$T/r.tif" 300 200 float32 region >"$T/r.out" || fail "bench_terraintif: a regional float32 grid"
"$TERRAINTIF" "$T/g.tif" 432 216 int16 global DEFLATE >"$T/g.out" || fail "bench_terraintif: a global int16 grid"
for f in "r|Size is 300, 200|Block=256x256 Type=Float32|ID[\"EPSG\",32632]]|Origin = (300000.0|NoData Value=-9999" \
    "g|Size is 432, 216|Block=256x256 Type=Int16|ID[\"EPSG\",4326]]|Origin = (-180.0|NoData Value=-32768"; do
    IFS='|' read -ra wants <<<"$f"
    name=${wants[0]}
    gdalinfo -stats "$T/$name.tif" >"$T/$name.info" 2>&1
    for w in "${wants[@]:1}"; do check "$name.tif: gdalinfo says $w" grep -qF "$w" "$T/$name.info"; done
    valid=$(sed -n 's/.*STATISTICS_VALID_PERCENT=//p' "$T/$name.info")
    said=$(sed -n 's/.*, \([0-9.]*\) % NoData$/\1/p' "$T/$name.out")
    check "$name.tif: some voids, as many as the maker said ($said %; GDAL: ${valid:-no} % valid)" \
        awk -v v="${valid:-0}" -v s="${said:-x}" 'BEGIN { exit !(v > 80 && v < 100 && (100 - v - s) ^ 2 < 0.01) }'
    check "$name.tif: relief, not a constant" awk -v d="$(sed -n 's/.*StdDev=//p' "$T/$name.info")" 'BEGIN { exit !(d > 10) }'
done

# It writes band by band: its peak stays well under a raster of 16000 x 4000 floats (244 MiB).
"$RSS" "$T/w.rss" "$TERRAINTIF" "$T/w.tif" 16000 4000 float32 region >/dev/null
read -r _ kib status _ <"$T/w.rss"
check "bench_terraintif holds bands, not the raster (status ${status:-none}, peak ${kib:-none} KiB)" \
    test "${status:-x}" = 0 -a "${kib:-0}" -gt 0 -a "${kib:-0}" -lt 190000
rm -f "$T/w.tif"

# The GeoTIFF import benchmark itself at those sizes: every figure, a number or failed with a reason.
BIG_W=300 BIG_H=200 TILE_SIZE=100 SMALL_W=400 SMALL_H=300 SMALL_TILE=100 GLOBAL_W=432 GLOBAL_H=216 IMPORT_PAIRS=2 \
    GLOBAL_RUNS=1 TINY_KERNELS=bilinear "$(dirname "$0")/../../bench/gdal_import.sh" "$BENCH_BUILD" "$T/gi" >"$T/gi.out" 2>/dev/null
for k in big_import_s big_import_rss_mib big_gdal_s big_gdal_rss_mib big_ratio big_cpu_ratio big_best_s big_best_ratio \
    tiles_import_s tiles_rss_mib tiles_whole_s tiles_gdal_best_s tiles_vs_one_file tiles_vs_gdal_best tiles_vs_decode_floor \
    strips_vs_decode_floor small_import_s small_whole_s small_tiles_vs_one_file small_tiles_cores global_import_s \
    global_rss_mib tiny_rss_mib; do
    v=$(sed -n "s/^$k //p" "$T/gi.out")
    check "GeoTIFF import bench: $k is a positive number or failed with a reason (got '${v:-none}')" \
        awk -v v="${v:-x}" -v e="$(grep -c _error "$T/gi.out")" 'BEGIN { exit !(v + 0 > 0 || (v == "failed" && e > 0)) }'
done
check "GeoTIFF import bench: cut 6 tiles, the same in strips, and 12 small ones" \
    grep -q '^tiles_input 6 tiles of 100 x 100' "$T/gi.out" && grep -q '^strips_input 6 tiles of 100 x 100 (3 x 2) in strips' "$T/gi.out" &&
    grep -q '^small_input 12 tiles of 100 x 100' "$T/gi.out"
# Where linux-perf samples, each profile's kinds add up to the whole.
for name in big tiles small; do
    check "GeoTIFF import bench: the $name import's profile adds up, or perf cannot sample here" \
        awk -v n="profile_$name" '$1 == n && $2 != "samples" { t += $3; k++ } $1 == n "_error" { e = 1 }
            END { exit !(e || (k == 8 && t > 99 && t < 101)) }' "$T/gi.out"
done
check "GeoTIFF import bench: ran its pairs and left no input behind" \
    test "$(sed -n 's/^big_pairs //p' "$T/gi.out")" -ge 1 -a -z "$(ls "$T/gi" | grep -v '_rounds$\|_runs$\|^err$\|^out$\|^rss$')"

finish
