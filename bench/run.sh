#!/usr/bin/env bash
# Runs every benchmark on an optimised build and prints one table, then one "BENCH name value" line per headline.
# usage: bench/run.sh BUILD_DIR   (repeat counts: STARTUP_RUNS, TOOL_RUNS, LOAD_PAIRS, FRAME_SECONDS;
# the GeoTIFF import's sizes and repeats: see bench/gdal_import.sh)
set -eu
build=$(cd "${1:?usage: bench/run.sh BUILD_DIR}" && pwd)
root=$(cd "$(dirname "$0")/.." && pwd)
startup_runs=${STARTUP_RUNS:-9}
tool_runs=${TOOL_RUNS:-3}
load_pairs=${LOAD_PAIRS:-21}
frame_seconds=${FRAME_SECONDS:-2}

export MORVATH=$build/morvath SHOT=$build/shot
. "$root/scripts/xvfb.sh"
W=$(mktemp -d)
trap 'stop_all; rm -rf "$W"' EXIT
failed=0

median() { sort -g | awk '{ v[NR] = $1 } END { if (NR == 0) print "n/a"; else if (NR % 2) print v[(NR + 1) / 2]; else print (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }
now_ns() { date +%s%N; }
load_avg() { cut -d' ' -f1-3 /proc/loadavg; }
echo "running the benchmarks (about six minutes)..." >&2
load_before=$(load_avg)

# Wall time in seconds of `mvx ARGS...`, or "n/a" when this mvx lacks the command, or "failed".
time_mvx() {
    local t0 t1
    t0=$(now_ns)
    if "$build/mvx" "$@" >/dev/null 2>"$W/mvx.err"; then
        t1=$(now_ns)
        awk -v d=$((t1 - t0)) 'BEGIN { printf "%.3f\n", d / 1e9 }'
    elif grep -q "unknown command" "$W/mvx.err"; then
        echo n/a
    else
        echo "mvx $1 failed: $(head -n1 "$W/mvx.err")" >&2
        echo failed
    fi
}

# Median of TOOL_RUNS timings of one mvx command; n/a or failed as soon as a run says so.
time_tool() {
    local t all=()
    for _ in $(seq "$tool_runs"); do
        t=$(time_mvx "$@")
        case $t in n/a | failed) echo "$t"; return ;; esac
        all+=("$t")
    done
    printf '%s\n' "${all[@]}" | median
}

# Generation first: with no map in the repository, the benchmarks use the one it makes.
generate_s=$(time_tool generate -o "$W/generated.mvx")
[ "$generate_s" = failed ] && failed=1
map=$root/datas.mvx
if [ ! -f "$map" ] || [ "$(stat -c %s "$map")" -ne 75497472 ]; then
    map=$W/generated.mvx
    [ -f "$map" ] || { echo "bench: no map: datas.mvx is missing and mvx generate failed" >&2; exit 1; }
    map_from="the default world, made by mvx generate"
else
    map_from="the repository's datas.mvx"
fi
mkdir "$W/run"
ln -s "$map" "$W/run/datas.mvx"

"$build/bench_heightpng" "$W/heights.png"
import_s=$(time_tool import "$W/heights.png" -o "$W/imported.mvx")
[ "$import_s" = failed ] && failed=1

"$build/bench_load" "$map" "$load_pairs" >"$W/load"

start_xvfb
"$build/bench_frame" "$map" "$frame_seconds" >"$W/frame"

# Start-up: the launcher notes the clock and execs the program, whose preloaded stamp writes the time
# to its first presented frame and its memory then, as one line appended to $2.
first_frame() {
    local out=$1
    shift
    rm -f "$W/first"
    (cd "$W/run" && exec "$build/bench_startclock" "$build/bench_firstframe.so" "$W/first" "$@") 2>"$W/viewer.err" &
    VIEWER_PID=$!
    if ! wait_file "$W/first" "$VIEWER_PID" 400 0.025; then
        echo "bench: $1 presented no frame" >&2
        kill -0 "$XVFB_PID" 2>/dev/null || echo "bench: the X server (pid $XVFB_PID) has stopped" >&2
        cat "$W/viewer.err" >&2
        exit 1
    fi
    cat "$W/first" >>"$out"
    kill "$VIEWER_PID" && wait "$VIEWER_PID" 2>/dev/null || true
    VIEWER_PID=
}
# The viewer, and as its baseline the same window and frame with no map loaded, in turn.
: >"$W/startup"
: >"$W/bare"
for _ in $(seq "$startup_runs"); do
    first_frame "$W/startup" "$MORVATH"
    first_frame "$W/bare" "$build/bench_frame" --bare
done
stop_all

# Last, as its gigabyte inputs stir the page cache: mvx import of large GeoTIFFs, against gdal_translate.
"$root/bench/gdal_import.sh" "$build" "$W/gdal" >"$W/gdal_import" || echo "bench: bench/gdal_import.sh failed" >&2
# A figure of its output, "failed" (or $2) if it has none; the reason for one, if any.
gi() { local v; v=$(sed -n "s/^$1 //p" "$W/gdal_import"); echo "${v:-${2:-failed}}"; }
why() { sed -n "s/^$1_error //p" "$W/gdal_import"; }
big_ratio=$(gi big_ratio) big_rss_mib=$(gi big_import_rss_mib) global_rss_mib=$(gi global_rss_mib)
global_s=$(gi global_import_s) big_best_ratio=$(gi big_best_ratio)
tiles_one=$(gi tiles_vs_one_file) tiles_best=$(gi tiles_vs_gdal_best) small_one=$(gi small_tiles_vs_one_file)
tiles_rss_mib=$(gi tiles_rss_mib) tiles_floor=$(gi tiles_vs_decode_floor) strips_floor=$(gi strips_vs_decode_floor)
small_cores=$(gi small_tiles_cores) big_cpu=$(gi big_cpu_ratio) tiny_rss_mib=$(gi tiny_rss_mib)
case "$big_ratio $big_rss_mib $global_rss_mib $global_s $big_best_ratio $tiles_one $tiles_best $small_one $tiles_rss_mib
      $tiles_floor $strips_floor $small_cores $big_cpu $tiny_rss_mib" in
*failed*) failed=1 ;;
esac
# A figure with its unit, or failed and the reason.
gfig() { if [ "$1" = failed ]; then echo "failed${3:+ ($3)}"; else echo "$1${2:+ $2}"; fi; }
# run_fig SECONDS MIB REASON [NOTE]: a run's time and peak memory, or why it failed.
run_fig() { if [ "$1" = failed ]; then gfig failed "" "$3"; else echo "$1 s${4:+ $4}, peak $(gfig "$2" MiB)"; fi; }

startup_s=$(awk '{ print $1 / 1e9 }' "$W/startup" | median)
rss_mib=$(awk '{ print $2 / 1024 }' "$W/startup" | median)
anon_mib=$(awk '{ print $3 / 1024 }' "$W/startup" | median)
file_mib=$(awk '{ print $4 / 1024 }' "$W/startup" | median)
bare_startup_s=$(awk '{ print $1 / 1e9 }' "$W/bare" | median)
bare_rss_mib=$(awk '{ print $2 / 1024 }' "$W/bare" | median)
read -r _ _ fresh_load fresh_read load_ratio _ < <(grep '^load fresh ' "$W/load")
read -r _ _ res_load res_read res_ratio _ < <(grep '^load resident ' "$W/load")
read -r _ frame_pas1_ms _ frame_pas1_ratio _ < <(awk '$1 == "frame" && $2 == 1 && $3 == 1 { print $1, $5, $6, $7 }' "$W/frame")
read -r _ viewer_frames viewer_allocs floor_frames floor_allocs own_allocs < <(grep '^allocs ' "$W/frame")
read -r _ events event_allocs < <(grep '^events ' "$W/frame")
renderer=$(sed -n 's/^renderer //p' "$W/frame")

f3() { awk -v v="$1" 'BEGIN { if (v == "n/a" || v == "failed") print v; else printf "%.3f\n", v }'; }
secs() { case $1 in n/a) echo "n/a (this mvx has no such command)" ;; failed) echo failed ;; *) echo "$1 s" ;; esac; }
# met / missed for a figure against an upper bound.
verdict() { awk -v v="$1" -v g="$2" 'BEGIN { if (v == "n/a" || v == "failed") print "-"; else print (v + 0 <= g + 0 ? "met" : "missed") }'; }
# The same against a lower bound.
verdict_min() { awk -v v="$1" -v g="$2" 'BEGIN { if (v == "n/a" || v == "failed") print "-"; else print (v + 0 >= g + 0 ? "met" : "missed") }'; }
# The profile of import NAME as one line: each kind's share of its CPU time, or why there is none.
split_of() {
    local why
    why=$(sed -n "s/^profile_$1_error //p" "$W/gdal_import")
    if [ -n "$why" ]; then echo "$why"; return; fi
    awk -v n="profile_$1" '$1 == n && $2 != "samples" { printf "%s%s %s %%", sep, $2, $3; sep = ", " }
        $1 == n && $2 == "samples" { s = $3 } END { if (s) printf " (%d samples)\n", s; else print "none" }' "$W/gdal_import"
}

cat <<EOF

Morvath benchmarks, $(date -u '+%Y-%m-%d %H:%M UTC')
machine: $(nproc) cores ($(sed -n 's/^model name\s*: //p' /proc/cpuinfo | head -n1)), $(awk '/MemTotal/ { printf "%.0f GiB", $2 / 1048576 }' /proc/meminfo), $(. /etc/os-release && echo "$PRETTY_NAME")
GL: $renderer, under Xvfb
load average before / after: $load_before / $(load_avg)
map: $map_from

Frame: affichage against the floor (the same immediate-mode calls replayed from arrays made beforehand),
600 x 600 window, glFinish after each frame; medians over interleaved pairs; the ratio is the median of
the pairs' ratios. Allocation calls per frame count every thread of the process (the GL driver's too).
EOF
printf '  %4s %5s %6s %10s %9s %7s %6s %14s %12s\n' pas zoom quads "viewer ms" "floor ms" ratio pairs "allocs viewer" "allocs floor"
awk '$1 == "frame" { printf "  %4d %5d %6d %10.3f %9.3f %7.3f %6d %14.1f %12.1f\n", $2, $3, $4, $5, $6, $7, $8, $9, $10 }' "$W/frame"
awk '$1 == "empty" { printf "  empty frame (clear, transforms, swap; no quad): %.3f ms\n", $2 }' "$W/frame"
# How the cost follows the quad count at zoom 1: least squares of ms = a + b * quads over the pas rows.
awk '$1 == "frame" && $3 == 1 { n++; x[n] = $4; y[n] = $5; sx += $4; sy += $5; sxx += $4 * $4; sxy += $4 * $5 }
     END {
         b = (n * sxy - sx * sy) / (n * sxx - sx * sx); a = (sy - b * sx) / n
         for (i = 1; i <= n; i++) { e = (y[i] - a - b * x[i]) / y[i]; if (e < 0) e = -e; if (e > w) w = e }
         printf "  fit over pas 1 to 16: %.3f ms + %.3f us a quad (quads = ceil(150/pas)^2); largest deviation %.0f%%\n", a, 1000 * b, 100 * w
     }' "$W/frame"
awk '$1 == "frame" && $12 != 0 { bad = 1; printf "  WARNING: pas %d zoom %d: the floor differs from the viewer in %d pixels\n", $2, $3, $12 }
     $1 == "frame" && $11 == 0 { bad = 1; printf "  WARNING: pas %d zoom %d: the viewer drew a black frame\n", $2, $3 }
     END { if (!bad) print "  same picture: every case, the floor drew the viewer'"'"'s frame pixel for pixel" }' "$W/frame"
awk -v vf="$viewer_frames" -v va="$viewer_allocs" -v ff="$floor_frames" -v fa="$floor_allocs" -v own="$own_allocs" 'BEGIN {
    printf "  allocation calls over %d viewer frames: %.1f a frame; over %d floor frames: %.1f a frame (the GL driver'"'"'s);\n", vf, va / vf, ff, fa / ff
    printf "  made by our code (the renderer, called back from the toolkit) in the viewer'"'"'s frames: %d in all\n", own }'
echo "  allocation calls over $events input events (keys, presses, drags through the callbacks): $event_allocs"
cat <<EOF

Load: charge_terrain against one plain read loop of the same file, page cache warm, median of $load_pairs interleaved pairs
  fresh pages, as at start-up:  $(f3 "$fresh_load") ms against $(f3 "$fresh_read") ms   ratio $(f3 "$load_ratio")
  pages already resident:       $(f3 "$res_load") ms against $(f3 "$res_read") ms   ratio $(f3 "$res_ratio")

Start-up and memory: medians of $startup_runs runs each of the viewer and, in turn with it, of the same
window and frame with no map loaded (bench_frame --bare)
  process start to first frame presented:  $(f3 "$startup_s") s   (no map: $(f3 "$bare_startup_s") s)
  peak resident after the first frame:     $(f3 "$rss_mib") MiB   (no map: $(f3 "$bare_rss_mib") MiB; the difference is $(awk -v a="$rss_mib" -v b="$bare_rss_mib" 'BEGIN { printf "%.1f", a - b }') MiB, the grid 72.0)
  resident then:                           $(f3 "$anon_mib") MiB anonymous, $(f3 "$file_mib") MiB file-backed

Tools: wall time, median of $tool_runs runs
  mvx generate (6144 x 4096 map):             $(secs "$generate_s")
  mvx import of a 4096 x 4096 16-bit PNG:     $(secs "$import_s")

GeoTIFF import: mvx import against gdal_translate -outsize 6144 4096 -r average of the same data (to a
GeoTIFF), as most run it (GDAL's default cache, one thread) and at its best (--config GDAL_NUM_THREADS
ALL_CPUS --config GDAL_CACHEMAX 512), page cache warm; $(gi big_pairs 0) rounds, the order turning each
round; a ratio is the median of the rounds' ratios. Peak resident memory is the process's own
(ru_maxrss from wait4), the largest over the runs. Inputs made at bench time: bench_terraintif
(multi-scale noise), cut into tiles by bench_cuttiles, which writes the tiles' one-file twin too.
  regional input: $(gfig "$(gi big_input)" "" "$(why big_input)"); made in $(gi big_make_s) s
    mvx import:                  $(run_fig "$(gi big_import_s)" "$big_rss_mib" "$(why big_mvx_big)")
    gdal_translate:              $(run_fig "$(gi big_gdal_s)" "$(gi big_gdal_rss_mib)" "$(why big_gdal_big)")
    gdal_translate at its best:  $(run_fig "$(gi big_best_s)" "$(gi big_best_rss_mib)" "$(why big_gdal_best_big)")
    ratios:                      $(f3 "$big_ratio"), $(f3 "$big_best_ratio") at its best
  the same cut in tiles: $(gfig "$(gi tiles_input)" "" "$(why tiles_input)")
    mvx import of the tiles:     $(run_fig "$(gi tiles_import_s)" "$tiles_rss_mib" "$(why tiles_mvx_tiles)"), $(gi tiles_import_cpu_s) s of CPU
    mvx import of the one file:  $(run_fig "$(gi tiles_whole_s)" "$(gi tiles_whole_rss_mib)" "$(why tiles_mvx_whole)")
    gdal_translate at its best over a VRT of the tiles: $(run_fig "$(gi tiles_gdal_best_s)" "$(gi tiles_gdal_best_rss_mib)" "$(why tiles_gdal_best_tiles)")
    GDAL decoding each tile once, two at a time (bench_decodefloor, the floor): $(secs "$(gi tiles_floor_s)"), $(gi tiles_floor_cpu_s) s of CPU
    ratios:                      $(f3 "$tiles_one") against the one file, $(f3 "$tiles_best") against gdal_translate, $(f3 "$tiles_floor") against the floor
  the same tiles in strips: $(gfig "$(gi strips_input)" "" "$(why strips_input)")
    mvx import against the floor: $(secs "$(gi strips_import_s)") against $(secs "$(gi strips_floor_s)"), ratio $(f3 "$strips_floor")
  small tiles: $(gfig "$(gi small_input)" "" "$(why small_input)")
    mvx import of the tiles:     $(run_fig "$(gi small_import_s)" "$(gi small_rss_mib)" "$(why small_mvx_small)")
    mvx import of the one file:  $(run_fig "$(gi small_whole_s)" "$(gi small_whole_rss_mib)" "$(why small_mvx_small_whole)")
    ratio:                       $(f3 "$small_one"); CPU time over wall time of the tiles' import: $(f3 "$small_cores")
  global input:   $(gfig "$(gi global_input)" "" "$(why global_input)"); made in $(gi global_make_s) s
    mvx import:      $(run_fig "$global_s" "$global_rss_mib" "$(why global_import)" "(median of $(gi global_runs 0))")
  the regional input's CPU time: mvx $(gi big_import_cpu_s) s, gdal_translate $(gi big_gdal_cpu_s) s; ratio $(f3 "$big_cpu")
  tiny inputs (a 3 x 2 and a 2 x 2 float64 raster) enlarged to the whole map by every kernel: peak $(gfig "$tiny_rss_mib" MiB "$(why tiny)")

Where mvx import's CPU time goes (bench/profile.sh: linux-perf's samples of each call stack, taken by
the first of decode, setup, coordinates, copies, weights, sums, map that it shows; other for the rest)
  regional input:  $(split_of big)
  260 tiles:       $(split_of tiles)
  2000 tiles:      $(split_of small)

Headline                value      goal
  frame_pas1_ms       $(printf '%9s' "$(f3 "$frame_pas1_ms")")
  frame_pas1_ratio    $(printf '%9s' "$(f3 "$frame_pas1_ratio")")      <= 1.05  $(verdict "$frame_pas1_ratio" 1.05)
  load_ratio          $(printf '%9s' "$(f3 "$load_ratio")")      <= 1.3   $(verdict "$load_ratio" 1.3)
  startup_s           $(printf '%9s' "$(f3 "$startup_s")")      < 0.5    $(verdict "$startup_s" 0.5)
  generate_s          $(printf '%9s' "$generate_s")      <= 3     $(verdict "$generate_s" 3)
  import_s            $(printf '%9s' "$import_s")      <= 2     $(verdict "$import_s" 2)
  viewer_rss_mib      $(printf '%9s' "$(f3 "$rss_mib")")      the 72 MiB grid plus the GL driver's needs
  import_big_vs_gdal  $(printf '%9s' "$(f3 "$big_ratio")")      <= 1.0   $(verdict "$big_ratio" 1.0)
  import_big_vs_gdal_best $(printf '%5s' "$(f3 "$big_best_ratio")")      <= 0.8   $(verdict "$big_best_ratio" 0.8)
  tiles_vs_one_file   $(printf '%9s' "$(f3 "$tiles_one")")      <= 1.25  $(verdict "$tiles_one" 1.25)
  tiles_vs_gdal_best  $(printf '%9s' "$(f3 "$tiles_best")")      <= 0.8   $(verdict "$tiles_best" 0.8)
  tiles_vs_decode_floor $(printf '%7s' "$(f3 "$tiles_floor")")      <= 1.15  $(verdict "$tiles_floor" 1.15)
  strips_vs_decode_floor $(printf '%6s' "$(f3 "$strips_floor")")      <= 1.15  $(verdict "$strips_floor" 1.15)
  small_tiles_vs_one_file $(printf '%5s' "$(f3 "$small_one")")      <= 1.2   $(verdict "$small_one" 1.2)
  small_tiles_cores   $(printf '%9s' "$(f3 "$small_cores")")      >= 1.7   $(verdict_min "$small_cores" 1.7)
  import_big_cpu_vs_gdal $(printf '%6s' "$(f3 "$big_cpu")")      <= 1.0   $(verdict "$big_cpu" 1.0)
  import_tiny_rss_mib $(printf '%9s' "$(f3 "$tiny_rss_mib")")      <= 450   $(verdict "$tiny_rss_mib" 450)
  tiles_rss_mib       $(printf '%9s' "$(f3 "$tiles_rss_mib")")      <= 600   $(verdict "$tiles_rss_mib" 600)
  import_big_rss_mib  $(printf '%9s' "$(f3 "$big_rss_mib")")      <= 600   $(verdict "$big_rss_mib" 600)
  import_global_rss_mib $(printf '%7s' "$(f3 "$global_rss_mib")")      <= 600   $(verdict "$global_rss_mib" 600)
  import_global_s     $(printf '%9s' "$(f3 "$global_s")")

BENCH frame_pas1_ms $(f3 "$frame_pas1_ms")
BENCH frame_pas1_ratio $(f3 "$frame_pas1_ratio")
BENCH load_ratio $(f3 "$load_ratio")
BENCH startup_s $(f3 "$startup_s")
BENCH generate_s $generate_s
BENCH import_s $import_s
BENCH viewer_rss_mib $(f3 "$rss_mib")
BENCH import_big_vs_gdal $(f3 "$big_ratio")
BENCH import_big_vs_gdal_best $(f3 "$big_best_ratio")
BENCH tiles_vs_one_file $(f3 "$tiles_one")
BENCH tiles_vs_gdal_best $(f3 "$tiles_best")
BENCH tiles_vs_decode_floor $(f3 "$tiles_floor")
BENCH strips_vs_decode_floor $(f3 "$strips_floor")
BENCH small_tiles_vs_one_file $(f3 "$small_one")
BENCH small_tiles_cores $(f3 "$small_cores")
BENCH import_big_cpu_vs_gdal $(f3 "$big_cpu")
BENCH import_tiny_rss_mib $(f3 "$tiny_rss_mib")
BENCH tiles_rss_mib $(f3 "$tiles_rss_mib")
BENCH import_big_rss_mib $(f3 "$big_rss_mib")
BENCH import_global_rss_mib $(f3 "$global_rss_mib")
EOF
exit "$failed"
