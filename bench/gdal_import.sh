#!/usr/bin/env bash
# The import benchmarks on large GeoTIFFs and tile sets: mvx import against gdal_translate, wall time and peak memory.
# usage: bench/gdal_import.sh BUILD_DIR SCRATCH_DIR   (prints "name value..." lines that bench/run.sh reads)
# Sizes and repeats: BIG_W x BIG_H float32 (20000 x 13000), cut into tiles of TILE_SIZE (1000);
# SMALL_W x SMALL_H float32 (8000 x 10000) cut into tiles of SMALL_TILE (200); GLOBAL_W x GLOBAL_H
# int16 (43200 x 21600); IMPORT_PAIRS (5) rounds, GLOBAL_RUNS (1); the large input's compression
# IMPORT_COMPRESS (NONE; the tiles and their one-file twins are DEFLATE with the float predictor).
set -u
build=$(cd "${1:?usage: bench/gdal_import.sh BUILD_DIR SCRATCH_DIR}" && pwd)
S=${2:?usage: bench/gdal_import.sh BUILD_DIR SCRATCH_DIR}
big_w=${BIG_W:-20000} big_h=${BIG_H:-13000} tile=${TILE_SIZE:-1000}
small_w=${SMALL_W:-8000} small_h=${SMALL_H:-10000} small_tile=${SMALL_TILE:-200}
global_w=${GLOBAL_W:-43200} global_h=${GLOBAL_H:-21600}
pairs=${IMPORT_PAIRS:-5} global_runs=${GLOBAL_RUNS:-1} compress=${IMPORT_COMPRESS:-NONE}
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

# measure NAME PROGRAM ARGS...: runs it under bench_rss, its output to $S/out; sets SECS and MIB, or
# REASON (one line) on failure. What it writes goes to $S/out.* and is removed after.
measure() {
    local name=$1 ns kib status
    shift
    : >"$S/rss"
    "$build/bench_rss" "$S/rss" "$@" >"$S/out" 2>"$S/err"
    rm -f "$S/out.mvx" "$S/out.mvx.json" "$S/out.tif"
    read -r ns kib status <"$S/rss"
    if [ "${status:-x}" = 0 ]; then
        SECS=$(awk -v n="$ns" 'BEGIN { printf "%.3f\n", n / 1e9 }')
        MIB=$(awk -v k="$kib" 'BEGIN { printf "%.1f\n", k / 1024 }')
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

# cut_tiles NAME FILE SIZE: FILE as tiles of SIZE in $S/NAME/ and whole again as $S/NAME_whole.tif, both
# DEFLATE with the floating-point predictor, and a VRT of the tiles for gdal_translate.
cut_tiles() {
    local name=$1 file=$2 size=$3
    rm -rf "${S:?}/$name" && mkdir "$S/$name"
    measure "the tile cutter" "$build/bench_cuttiles" "$file" "$S/$name" "$size" "$size" "$S/${name}_whole.tif" ||
        { echo "${name}_input_error $REASON"; return 1; }
    gdalbuildvrt -q "$S/$name.vrt" "$S/$name"/*.tif || { echo "${name}_input_error gdalbuildvrt failed"; return 1; }
    sync
    echo "${name}_input $(cat "$S/out"), DEFLATE with the floating-point predictor, $(du -sm "$S/$name" | cut -f1) MiB"
    echo "${name}_make_s $SECS"
}

# compare NAME ROUNDS RUNNER...: ROUNDS rounds, each calling every RUNNER (a function that measures one
# command) once, the order turning from round to round; writes $S/NAME_rounds, a line per round of
# "SECS MIB" per runner (or "failed failed"), and prints NAME_pairs. A failure ends the rounds.
compare() {
    local name=$1 rounds=$2 i k who stop=
    shift 2
    local runners=("$@") n=$#
    : >"$S/${name}_rounds"
    for i in $(seq "$rounds"); do
        local got=()
        for k in $(seq 0 $((n - 1))); do
            who=$(((k + i) % n))
            if "${runners[$who]}"; then got[$who]="$SECS $MIB"; else got[$who]="failed failed"; echo "${name}_${runners[$who]}_error $REASON"; stop=1; fi
        done
        echo "${got[*]}" >>"$S/${name}_rounds"
        [ -z "$stop" ] || break  # a failure repeats itself: one round tells it
    done
    echo "${name}_pairs $(wc -l <"$S/${name}_rounds")"
}
# col NAME K: runner K's seconds (field 2K+1) or memory (2K+2) over the rounds of NAME.
col() { awk -v f="$2" '{ print $f }' "$S/$1_rounds"; }
# ratio NAME A B: the median over the rounds of runner A's time over runner B's.
ratio() { awk -v a=$((2 * $2 + 1)) -v b=$((2 * $3 + 1)) '{ print $a == "failed" || $b == "failed" ? "failed" : $a / $b }' "$S/$1_rounds" | of median; }

# The large regional grid: mvx, gdal_translate as most run it, and gdal_translate at its best.
big=$S/big.tif
mvx_big() { measure "mvx import" "$build/mvx" import "$big" -o "$S/out.mvx"; }
gdal_big() { measure gdal_translate gdal_translate -q -outsize 6144 4096 -r average "$big" "$S/out.tif"; }
gdal_best_big() { measure "gdal_translate at its best" gdal_translate -q "${best[@]}" -outsize 6144 4096 -r average "$big" "$S/out.tif"; }
if make_input big "$big" "$big_w" "$big_h" float32 region; then
    compare big "$pairs" mvx_big gdal_big gdal_best_big
    echo "big_import_s $(col big 1 | of median)"
    echo "big_import_rss_mib $(col big 2 | of largest)"
    echo "big_gdal_s $(col big 3 | of median)"
    echo "big_gdal_rss_mib $(col big 4 | of largest)"
    echo "big_ratio $(ratio big 0 1)"
    echo "big_best_s $(col big 5 | of median)"
    echo "big_best_rss_mib $(col big 6 | of largest)"
    echo "big_best_ratio $(ratio big 0 2)"

    # The same terrain as tiles, against the same data as one file and against gdal_translate over a VRT.
    mvx_tiles() { measure "mvx import of the tiles" "$build/mvx" import "$S/tiles" -o "$S/out.mvx"; }
    mvx_whole() { measure "mvx import of the one file" "$build/mvx" import "$S/tiles_whole.tif" -o "$S/out.mvx"; }
    gdal_best_tiles() {
        measure "gdal_translate at its best over a VRT" gdal_translate -q "${best[@]}" -outsize 6144 4096 -r average \
            "$S/tiles.vrt" "$S/out.tif"
    }
    if cut_tiles tiles "$big" "$tile"; then
        rm -f "$big"
        compare tiles "$pairs" mvx_tiles mvx_whole gdal_best_tiles
        echo "tiles_import_s $(col tiles 1 | of median)"
        echo "tiles_rss_mib $(col tiles 2 | of largest)"
        echo "tiles_whole_s $(col tiles 3 | of median)"
        echo "tiles_whole_rss_mib $(col tiles 4 | of largest)"
        echo "tiles_gdal_best_s $(col tiles 5 | of median)"
        echo "tiles_gdal_best_rss_mib $(col tiles 6 | of largest)"
        echo "tiles_vs_one_file $(ratio tiles 0 1)"
        echo "tiles_vs_gdal_best $(ratio tiles 0 2)"
    fi
fi
rm -rf "$big" "${S:?}/tiles" "$S/tiles_whole.tif" "$S/tiles.vrt"

# Many small tiles: the cost of each tile, against the same data as one file.
small=$S/small.tif
mvx_small() { measure "mvx import of the small tiles" "$build/mvx" import "$S/small" -o "$S/out.mvx"; }
mvx_small_whole() { measure "mvx import of their one file" "$build/mvx" import "$S/small_whole.tif" -o "$S/out.mvx"; }
if make_input small_source "$small" "$small_w" "$small_h" float32 region && cut_tiles small "$small" "$small_tile"; then
    rm -f "$small"
    compare small "$pairs" mvx_small mvx_small_whole
    echo "small_import_s $(col small 1 | of median)"
    echo "small_rss_mib $(col small 2 | of largest)"
    echo "small_whole_s $(col small 3 | of median)"
    echo "small_whole_rss_mib $(col small 4 | of largest)"
    echo "small_tiles_vs_one_file $(ratio small 0 1)"
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
exit 0
