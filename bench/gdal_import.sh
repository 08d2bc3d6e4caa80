#!/usr/bin/env bash
# The import benchmarks on large GeoTIFFs and tile sets: mvx import against gdal_translate, wall time and peak memory.
# usage: bench/gdal_import.sh BUILD_DIR SCRATCH_DIR   (prints "name value..." lines that bench/run.sh reads)
# Sizes and repeats: BIG_W x BIG_H float32 (20000 x 13000), cut into tiles of TILE_SIZE (1000), tiled
# 256 x 256 inside as published and again in strips; SMALL_W x SMALL_H float32 (8000 x 10000) cut into
# tiles of SMALL_TILE (200); GLOBAL_W x GLOBAL_H int16 (43200 x 21600); IMPORT_PAIRS (5) rounds,
# GLOBAL_RUNS (1); the large input's compression IMPORT_COMPRESS (NONE; the tiles and their one-file
# twins are DEFLATE with the float predictor); TINY_KERNELS, the --resample choices a 3 x 2 and a 2 x 2
# raster are imported with ("default average bilinear cubic nearest"). Where linux-perf can sample, each of the three imports
# is profiled once (bench/profile.sh): "profile_NAME KIND PERCENT" lines.
set -u
build=$(cd "${1:?usage: bench/gdal_import.sh BUILD_DIR SCRATCH_DIR}" && pwd)
S=${2:?usage: bench/gdal_import.sh BUILD_DIR SCRATCH_DIR}
big_w=${BIG_W:-20000} big_h=${BIG_H:-13000} tile=${TILE_SIZE:-1000}
small_w=${SMALL_W:-8000} small_h=${SMALL_H:-10000} small_tile=${SMALL_TILE:-200}
global_w=${GLOBAL_W:-43200} global_h=${GLOBAL_H:-21600}
pairs=${IMPORT_PAIRS:-5} global_runs=${GLOBAL_RUNS:-1} compress=${IMPORT_COMPRESS:-NONE}
tiny_kernels=${TINY_KERNELS:-default average bilinear cubic nearest}
mkdir -p "$S"
# gdal_translate as an expert runs it: decoding on every core, a cache that holds what it reads.
best=(--config GDAL_NUM_THREADS ALL_CPUS --config GDAL_CACHEMAX 512)

median() { sort -g | awk '{ v[NR] = $1 } END { if (NR % 2) print v[(NR + 1) / 2]; else print (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }
largest() { sort -g | tail -n1; }
# of median|largest: of the values on stdin, or "failed" when there are none or any run failed.
of() {
    local v
    v=$(cat)
    if [ -z "$v" ] || grep -q failed <<<"$v"; then echo failed; else "$1" <<<"$v"; fi
}

# measure NAME PROGRAM ARGS...: runs it under bench_rss, its output to $S/out; sets SECS, MIB and CPU
# (its user and system seconds), or REASON (one line) on failure. What it writes goes to $S/out.* and
# is removed after.
measure() {
    local name=$1 ns kib status cpu
    shift
    : >"$S/rss"
    "$build/bench_rss" "$S/rss" "$@" >"$S/out" 2>"$S/err"
    rm -f "$S/out.mvx" "$S/out.mvx.json" "$S/out.tif"
    read -r ns kib status cpu <"$S/rss"
    if [ "${status:-x}" = 0 ]; then
        SECS=$(awk -v n="$ns" 'BEGIN { printf "%.3f\n", n / 1e9 }')
        MIB=$(awk -v k="$kib" 'BEGIN { printf "%.1f\n", k / 1024 }')
        CPU=$(awk -v n="$cpu" 'BEGIN { printf "%.3f\n", n / 1e9 }')
        return 0
    fi
    # The last line said is the error; progress may have come before it.
    REASON="$name, status ${status:-unknown}: $(tr '\r' '\n' <"$S/err" | grep -v '^[[:space:]]*$' | tail -n1)"
    echo "bench: failed: $REASON" >&2
    return 1
}

# make_input NAME FILE W H TYPE AREA: writes the input, then flushes it to disk so that no writeback
# runs under the timings; prints "NAME_input DESCRIPTION" and "NAME_make_s SECONDS" (the writing alone).
make_input() {
    local name=$1 file=$2
    shift 2
    measure "the input maker" "$build/bench_terraintif" "$file" "$@" "$compress" || { echo "${name}_input_error $REASON"; return 1; }
    sync "$file"
    echo "${name}_input $(cat "$S/out"), tiles 256 x 256, compression $compress, $(($(stat -c %s "$file") >> 20)) MiB"
    echo "${name}_make_s $SECS"
}

# cut_tiles NAME FILE SIZE [strips]: FILE as tiles of SIZE in $S/NAME/ and whole again as
# $S/NAME_whole.tif (not in strips), both DEFLATE with the floating-point predictor, and a VRT of the
# tiles for gdal_translate.
cut_tiles() {
    local name=$1 file=$2 size=$3 layout=${4:-}
    local whole="$S/${name}_whole.tif"
    [ -z "$layout" ] || whole=-
    rm -rf "${S:?}/$name" && mkdir "$S/$name"
    measure "the tile cutter" "$build/bench_cuttiles" "$file" "$S/$name" "$size" "$size" "$whole" $layout ||
        { echo "${name}_input_error $REASON"; return 1; }
    gdalbuildvrt -q "$S/$name.vrt" "$S/$name"/*.tif || { echo "${name}_input_error gdalbuildvrt failed"; return 1; }
    sync
    echo "${name}_input $(cat "$S/out"), DEFLATE with the floating-point predictor, $(du -sm "$S/$name" | cut -f1) MiB"
    echo "${name}_make_s $SECS"
}

# compare NAME ROUNDS RUNNER...: ROUNDS rounds, each calling every RUNNER (a function that measures one
# command) once, the order turning from round to round; writes $S/NAME_rounds, a line per round of
# "SECS MIB CPU" per runner (or "failed failed failed"), and prints NAME_pairs. A failure ends the rounds.
compare() {
    local name=$1 rounds=$2 i k who stop=
    shift 2
    local runners=("$@") n=$#
    : >"$S/${name}_rounds"
    for i in $(seq "$rounds"); do
        local got=()
        for k in $(seq 0 $((n - 1))); do
            who=$(((k + i) % n))
            if "${runners[$who]}"; then got[$who]="$SECS $MIB $CPU"; else got[$who]="failed failed failed"; echo "${name}_${runners[$who]}_error $REASON"; stop=1; fi
        done
        echo "${got[*]}" >>"$S/${name}_rounds"
        [ -z "$stop" ] || break  # a failure repeats itself: one round tells it
    done
    echo "${name}_pairs $(wc -l <"$S/${name}_rounds")"
}
# secs, mib, cpu NAME K: runner K's seconds, memory or CPU seconds over the rounds of NAME.
field() { awk -v f="$3" '{ print $f }' "$S/$1_rounds"; }
secs() { field "$1" "$2" $((3 * $2 + 1)); }
mib() { field "$1" "$2" $((3 * $2 + 2)); }
cpu() { field "$1" "$2" $((3 * $2 + 3)); }
# over NAME FA FB: the median over the rounds of field FA over field FB.
over() { awk -v a="$2" -v b="$3" '{ print $a == "failed" || $b == "failed" ? "failed" : $a / $b }' "$S/$1_rounds" | of median; }
# ratio NAME A B: runner A's time over runner B's; cpu_ratio: their CPU seconds; cores NAME A: runner
# A's CPU seconds over its time.
ratio() { over "$1" $((3 * $2 + 1)) $((3 * $3 + 1)); }
cpu_ratio() { over "$1" $((3 * $2 + 3)) $((3 * $3 + 3)); }
cores() { over "$1" $((3 * $2 + 3)) $((3 * $2 + 1)); }
# profile NAME PROGRAM ARGS...: where the program's CPU time goes, as "profile_NAME KIND PERCENT" lines.
profile() {
    local name=$1
    shift
    if "$(dirname "$0")/profile.sh" "$S/profile" "$@" >"$S/profile.out" 2>/dev/null; then
        sed "s/^profile /profile_$name /" "$S/profile.out"
    else
        echo "profile_${name}_error perf cannot sample here"
    fi
    rm -rf "$S/profile" "$S/profile.out" "$S/out.mvx" "$S/out.mvx.json"
}

# The large regional grid: mvx, gdal_translate as most run it, and gdal_translate at its best.
big=$S/big.tif
mvx_big() { measure "mvx import" "$build/mvx" import "$big" -o "$S/out.mvx"; }
gdal_big() { measure gdal_translate gdal_translate -q -outsize 6144 4096 -r average "$big" "$S/out.tif"; }
gdal_best_big() { measure "gdal_translate at its best" gdal_translate -q "${best[@]}" -outsize 6144 4096 -r average "$big" "$S/out.tif"; }
if make_input big "$big" "$big_w" "$big_h" float32 region; then
    compare big "$pairs" mvx_big gdal_big gdal_best_big
    echo "big_import_s $(secs big 0 | of median)"
    echo "big_import_rss_mib $(mib big 0 | of largest)"
    echo "big_import_cpu_s $(cpu big 0 | of median)"
    echo "big_gdal_s $(secs big 1 | of median)"
    echo "big_gdal_rss_mib $(mib big 1 | of largest)"
    echo "big_gdal_cpu_s $(cpu big 1 | of median)"
    echo "big_ratio $(ratio big 0 1)"
    echo "big_cpu_ratio $(cpu_ratio big 0 1)"
    echo "big_best_s $(secs big 2 | of median)"
    echo "big_best_rss_mib $(mib big 2 | of largest)"
    echo "big_best_ratio $(ratio big 0 2)"
    profile big "$build/mvx" import "$big" -o "$S/out.mvx"

    # The same terrain as tiles, against the same data as one file, against gdal_translate over a VRT,
    # and against GDAL decoding each tile once, two at a time; then again in strips, against their floor.
    mvx_tiles() { measure "mvx import of the tiles" "$build/mvx" import "$S/tiles" -o "$S/out.mvx"; }
    mvx_whole() { measure "mvx import of the one file" "$build/mvx" import "$S/tiles_whole.tif" -o "$S/out.mvx"; }
    gdal_best_tiles() {
        measure "gdal_translate at its best over a VRT" gdal_translate -q "${best[@]}" -outsize 6144 4096 -r average \
            "$S/tiles.vrt" "$S/out.tif"
    }
    floor_tiles() { measure "GDAL decoding the tiles" "$build/bench_decodefloor" 2 "$S/tiles"; }
    mvx_strips() { measure "mvx import of the tiles in strips" "$build/mvx" import "$S/strips" -o "$S/out.mvx"; }
    floor_strips() { measure "GDAL decoding the tiles in strips" "$build/bench_decodefloor" 2 "$S/strips"; }
    if cut_tiles tiles "$big" "$tile"; then
        compare tiles "$pairs" mvx_tiles mvx_whole gdal_best_tiles floor_tiles
        echo "tiles_import_s $(secs tiles 0 | of median)"
        echo "tiles_rss_mib $(mib tiles 0 | of largest)"
        echo "tiles_import_cpu_s $(cpu tiles 0 | of median)"
        echo "tiles_whole_s $(secs tiles 1 | of median)"
        echo "tiles_whole_rss_mib $(mib tiles 1 | of largest)"
        echo "tiles_gdal_best_s $(secs tiles 2 | of median)"
        echo "tiles_gdal_best_rss_mib $(mib tiles 2 | of largest)"
        echo "tiles_floor_s $(secs tiles 3 | of median)"
        echo "tiles_floor_cpu_s $(cpu tiles 3 | of median)"
        echo "tiles_vs_one_file $(ratio tiles 0 1)"
        echo "tiles_vs_gdal_best $(ratio tiles 0 2)"
        echo "tiles_vs_decode_floor $(ratio tiles 0 3)"
        profile tiles "$build/mvx" import "$S/tiles" -o "$S/out.mvx"
        rm -rf "${S:?}/tiles" "$S/tiles_whole.tif" "$S/tiles.vrt"
    fi
    if cut_tiles strips "$big" "$tile" strips; then
        compare strips "$pairs" mvx_strips floor_strips
        echo "strips_import_s $(secs strips 0 | of median)"
        echo "strips_floor_s $(secs strips 1 | of median)"
        echo "strips_vs_decode_floor $(ratio strips 0 1)"
    fi
fi
rm -rf "$big" "${S:?}/tiles" "$S/tiles_whole.tif" "$S/tiles.vrt" "${S:?}/strips" "$S/strips.vrt"

# Many small tiles: the cost of each tile, against the same data as one file.
small=$S/small.tif
mvx_small() { measure "mvx import of the small tiles" "$build/mvx" import "$S/small" -o "$S/out.mvx"; }
mvx_small_whole() { measure "mvx import of their one file" "$build/mvx" import "$S/small_whole.tif" -o "$S/out.mvx"; }
if make_input small_source "$small" "$small_w" "$small_h" float32 region && cut_tiles small "$small" "$small_tile"; then
    rm -f "$small"
    compare small "$pairs" mvx_small mvx_small_whole
    echo "small_import_s $(secs small 0 | of median)"
    echo "small_rss_mib $(mib small 0 | of largest)"
    echo "small_whole_s $(secs small 1 | of median)"
    echo "small_whole_rss_mib $(mib small 1 | of largest)"
    echo "small_tiles_vs_one_file $(ratio small 0 1)"
    echo "small_tiles_cores $(cores small 0)"
    profile small "$build/mvx" import "$S/small" -o "$S/out.mvx"
fi
rm -rf "$small" "${S:?}/small" "$S/small_whole.tif" "$S/small.vrt"

# The whole world at 30 arc-seconds, through the import alone.
global=$S/global.tif
if make_input global "$global" "$global_w" "$global_h" int16 global; then
    : >"$S/global_runs"
    for _ in $(seq "$global_runs"); do
        if measure "mvx import" "$build/mvx" import "$global" -o "$S/out.mvx"; then
            echo "$SECS $MIB" >>"$S/global_runs"
        else
            echo "global_import_error $REASON"
            echo failed failed >>"$S/global_runs"
            break
        fi
    done
    echo "global_runs $(wc -l <"$S/global_runs")"
    echo "global_import_s $(awk '{ print $1 }' "$S/global_runs" | of median)"
    echo "global_rss_mib $(awk '{ print $2 }' "$S/global_runs" | of largest)"
fi
rm -f "$global"

# Tiny inputs enlarged to the whole map, by every kernel: memory that does not grow with the
# enlargement. Written as ESRI ASCII grids and made float64 GeoTIFFs by gdal_translate.
: >"$S/tiny_runs"
for grid in "3 2 100 250 175 300 80 220" "2 2 100 250 300 80"; do
    set -- $grid
    w=$1 h=$2
    shift 2
    printf 'ncols %s\nnrows %s\nxllcorner 10\nyllcorner 45\ncellsize 0.01\n%s\n' "$w" "$h" "$*" >"$S/tiny.asc"
    if ! gdal_translate -q -ot Float64 -a_srs EPSG:4326 "$S/tiny.asc" "$S/tiny.tif" 2>"$S/err"; then
        echo "tiny_error gdal_translate: $(head -n1 "$S/err")"
        echo failed >>"$S/tiny_runs"
        break
    fi
    for kernel in $tiny_kernels; do
        [ "$kernel" = default ] && kernel=
        if measure "mvx import of a ${w} x ${h} raster" "$build/mvx" import "$S/tiny.tif" -o "$S/out.mvx" ${kernel:+--resample $kernel}; then
            echo "$MIB" >>"$S/tiny_runs"
        else
            echo "tiny_error $REASON"
            echo failed >>"$S/tiny_runs"
        fi
    done
done
rm -f "$S/tiny.asc" "$S/tiny.tif"
echo "tiny_runs $(wc -l <"$S/tiny_runs")"
echo "tiny_rss_mib $(of largest <"$S/tiny_runs")"
exit 0
