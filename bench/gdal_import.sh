#!/usr/bin/env bash
# The import benchmark on large GeoTIFFs: mvx import against gdal_translate, wall time and peak memory.
# usage: bench/gdal_import.sh BUILD_DIR SCRATCH_DIR   (prints "name value..." lines that bench/run.sh reads)
# Sizes and repeats: BIG_W x BIG_H float32 (20000 x 13000), GLOBAL_W x GLOBAL_H int16 (43200 x 21600),
# IMPORT_PAIRS (5), GLOBAL_RUNS (1), and the inputs' GeoTIFF compression IMPORT_COMPRESS (NONE).
set -u
build=$(cd "${1:?usage: bench/gdal_import.sh BUILD_DIR SCRATCH_DIR}" && pwd)
S=${2:?usage: bench/gdal_import.sh BUILD_DIR SCRATCH_DIR}
big_w=${BIG_W:-20000} big_h=${BIG_H:-13000}
global_w=${GLOBAL_W:-43200} global_h=${GLOBAL_H:-21600}
pairs=${IMPORT_PAIRS:-5} global_runs=${GLOBAL_RUNS:-1} compress=${IMPORT_COMPRESS:-NONE}
mkdir -p "$S"

median() { sort -g | awk '{ v[NR] = $1 } END { if (NR % 2) print v[(NR + 1) / 2]; else print (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }
largest() { sort -g | tail -n1; }
# of median|largest: of the values on stdin, or "failed" when there are none or any run failed.
of() {
    local v
    v=$(cat)
    if [ -z "$v" ] || grep -q failed <<<"$v"; then echo failed; else "$1" <<<"$v"; fi
}

# measure NAME PROGRAM ARGS...: runs it under bench_rss, its output to $S/out; sets SECS and MIB, or
# REASON (one line) on failure.
measure() {
    local name=$1 ns kib status
    shift
    : >"$S/rss"
    "$build/bench_rss" "$S/rss" "$@" >"$S/out" 2>"$S/err"
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

# The large regional grid, in pairs: the import, and GDAL's own reading at the map's size, each first in turn.
big=$S/big.tif
if make_input big "$big" "$big_w" "$big_h" float32 region; then
    : >"$S/big_pairs"
    for i in $(seq "$pairs"); do
        ti="failed failed" tg="failed failed" stop=
        for who in $( ((i % 2)) && echo mvx gdal || echo gdal mvx); do
            rm -f "$S/big.mvx" "$S/big_gdal.tif"
            if [ "$who" = mvx ]; then
                measure "mvx import" "$build/mvx" import "$big" -o "$S/big.mvx" && ti="$SECS $MIB" ||
                    { echo "big_import_error $REASON"; stop=1; }
            else
                measure gdal_translate gdal_translate -q -outsize 6144 4096 -r average "$big" "$S/big_gdal.tif" &&
                    tg="$SECS $MIB" || { echo "big_gdal_error $REASON"; stop=1; }
            fi
        done
        rm -f "$S/big.mvx" "$S/big_gdal.tif"
        echo "$ti $tg" >>"$S/big_pairs"
        [ -z "$stop" ] || break  # a failure repeats itself: one pair tells it
    done
    echo "big_pairs $(wc -l <"$S/big_pairs")"
    echo "big_import_s $(awk '{ print $1 }' "$S/big_pairs" | of median)"
    echo "big_import_rss_mib $(awk '{ print $2 }' "$S/big_pairs" | of largest)"
    echo "big_gdal_s $(awk '{ print $3 }' "$S/big_pairs" | of median)"
    echo "big_gdal_rss_mib $(awk '{ print $4 }' "$S/big_pairs" | of largest)"
    echo "big_ratio $(awk '{ print $1 == "failed" || $3 == "failed" ? "failed" : $1 / $3 }' "$S/big_pairs" | of median)"
fi
rm -f "$big"

# The whole world at 30 arc-seconds, through the import alone.
global=$S/global.tif
if make_input global "$global" "$global_w" "$global_h" int16 global; then
    : >"$S/global_runs"
    for _ in $(seq "$global_runs"); do
        rm -f "$S/global.mvx"
        if measure "mvx import" "$build/mvx" import "$global" -o "$S/global.mvx"; then
            echo "$SECS $MIB" >>"$S/global_runs"
        else
            echo "global_import_error $REASON"
            echo failed failed >>"$S/global_runs"
            break
        fi
    done
    rm -f "$S/global.mvx"
    echo "global_runs $(wc -l <"$S/global_runs")"
    echo "global_import_s $(awk '{ print $1 }' "$S/global_runs" | of median)"
    echo "global_rss_mib $(awk '{ print $2 }' "$S/global_runs" | of largest)"
fi
rm -f "$global"
exit 0
