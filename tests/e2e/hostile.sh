#!/usr/bin/env bash
# mvx import against hostile inputs: no connection to a server named in any spelling or nesting,
# no wait on a FIFO, refusals within bounds before huge reads, raw data whole, no place past a pole.
. "$(dirname "$0")/lib.sh"

cd "$T" || exit 1
"$LISTENER" port.txt connections.txt &
listener=$!
trap 'kill "$listener" 2>/dev/null; stop_all; rm -rf "$T"' EXIT
for _ in $(seq 100); do [ -s port.txt ] && break; sleep 0.05; done
port=$(cat port.txt) || exit 1
"$HOSTILE_INPUTS" "$T" "$port" || exit 1
curl="/vsicurl?url=http%3A%2F%2F127.0.0.1%3A$port%2Fx.tif"
net="mvx reads local files only: download it first"
matches() { [[ $1 == $2 ]]; }

# Each row: the exit status, the arguments after 'mvx import', and the last line mvx writes (a
# pattern). mvx gets 20 s, far more than any row needs: a run that waits on a FIFO is stopped.
while IFS='|' read -r status args want; do
    read -r -a argv <<<"$args"
    timeout 20 "$MVX" import "${argv[@]}" -o out.mvx >out.txt 2>err.txt
    got=$?
    check "import $args: exit $status (got $got)" [ "$got" -eq "$status" ]
    last=$(tail -n 1 err.txt)
    check "import $args: says '$want' (got '$last')" matches "$last" "$want"
done <<TABLE
1|$curl|mvx: $curl: a network source; $net
1|/vsicurl/http://127.0.0.1:$port/x.tif|mvx: /vsicurl/http://127.0.0.1:$port/x.tif: a network source; $net
1|NETCDF:"http://127.0.0.1:$port/x.nc":z|mvx: NETCDF:"http://127.0.0.1:$port/x.nc":z: a network source; $net
1|nested.vrt|mvx: nested.vrt: refers to a network source ($curl); $net
1|netcdf.vrt|mvx: netcdf.vrt: refers to a network source (NETCDF:"http://127.0.0.1:$port/x.nc":z); $net
1|zipcurl.vrt|mvx: zipcurl.vrt: refers to a network source (/vsizip//vsicurl/http://127.0.0.1:$port/x.zip/a.tif); $net
1|nul.vrt|mvx: nul.vrt: refers to a network source ($curl); $net
1|big.vrt|mvx: big.vrt: refers to a network source ($curl); $net
1|zipped.zip|mvx: zipped.zip: refers to a network source ($curl); $net
1|dem.tif --colour zipped.zip|mvx: zipped.zip: refers to a network source ($curl); $net
1|sparse.tif|mvx: sparse.tif: 1e+12 samples to read*gdaladdo -r average sparse.tif*
1|dem.tif --colour sparse.tif|mvx: sparse.tif: 1e+12 samples to read at the resolution needed, more than the 1.37e+11 mvx reads; build overviews first (gdaladdo -r average sparse.tif)
1|fifo.vrt|mvx: fifo.vrt: refers to fifo, which is a FIFO, not a regular file
1|ab:fifo|mvx: ab:fifo: it is a FIFO, not a regular file
1|ncfifo.vrt|mvx: ncfifo.vrt: refers to fifo, which is a FIFO, not a regular file
1|many.zip|mvx: many.zip: nothing inside that GDAL reads as a raster (it holds m0.txt and 19999 more)
1|cut.img|mvx: cut.img: it is cut short: 8,000 bytes where its raw layout needs 16,000
1|short.vrt|mvx: short.vrt: refers to short.bin, which is cut short: 4 bytes where its raw layout needs 16
1|mem.vrt|mvx: mem.vrt: refers to /proc/self/mem, which is under /proc, where mvx reads nothing
1|dir.vrt|mvx: dir.vrt: refers to adir, which is a directory, not a regular file
1|polar.tif|mvx: polar.tif: its latitudes reach 95, beyond the pole: its georeferencing is wrong (check its coordinate system and cell size)
TABLE
# Three bands of 270 million pixels: grey, as far as a bounded sample of them shows.
timeout 20 "$MVX" import wide.vrt -o out.mvx 2>err.txt
check "import wide.vrt: exit 0" [ $? -eq 0 ]
check "import wide.vrt: a sample of it looked at" \
    grep -qx "mvx: wide.vrt: colour image whose pixels looked at (a sample of it) are all grey, read as greyscale" err.txt
check "the server on 127.0.0.1 saw no connection" [ ! -s connections.txt ]

# --- Names, lists and outputs (inputs from names/): mvx writes nothing it was not told to, never
# through a link it did not get, refuses at once in bounded memory, and says so in one line.
export LC_ALL=C  # globs sort as the rows expect: -o first
cd "$T/names" || exit 1
outs=$T/names-out
mkdir "$outs"
# What is here: every name, kind, size and link, and the small files' sums.
snapshot() { find . -printf '%p %y %s %l\n' | sort; find . -type f -size -1M -print0 | sort -z | xargs -0 md5sum; }
snapshot >"$T/names-before"
esc=$'\e[2J'
link=": a symbolic link; mvx does not write through a link it was not given: name the target with -o"
proc="mvx: /proc/self/environ: it is under /proc, where mvx reads nothing"
# Each row: the command, and the one line it must fail with (exit 1).
while IFS=';' read -r cmd want; do
    eval "$cmd" >"$T/names-stdout" 2>"$T/names-err"
    got=$?
    what=${cmd//$esc/ESC[2J}  # the log too stays a log
    check "$what: exit 1 (got $got)" [ "$got" -eq 1 ]
    check "$what: says '$want' alone (got '$(head -c 300 "$T/names-err")')" [ "$(cat "$T/names-err")" = "$want" ]
    check "$what: no control character reaches the terminal" [ -z "$(tr -d '\n' <"$T/names-err" | tr -d '[:print:]')" ]
done <<TABLE
yes m | timeout 20 "$MVX" import --input-list - -o "$outs/x.mvx";mvx: --input-list: standard input: more than 100,000 lines; mvx imports at most 100,000 files at once
timeout 20 "$MVX" import --input-list big.list -o "$outs/x.mvx";mvx: --input-list: big.list: more than 100,000 lines; mvx imports at most 100,000 files at once
(cd planted && timeout 20 "$MVX" import ../glob/a.tif);mvx: datas.mvx$link
timeout 20 "$MVX" import glob/a.tif -o planted/m.mvx;mvx: planted/m.mvx.json$link
timeout 20 "$MVX" export huge.mvx --heights -o "$outs/h.tif";mvx: huge.mvx.json: level 127 stands for 1.27e+39, beyond what a float32 GeoTIFF holds (3.4e+38)
timeout 20 "$MVX" export broken.mvx --heights -o "$outs/b.tif";mvx: broken.mvx.json: not JSON
timeout 20 "$MVX" info /proc/self/environ;$proc
timeout 20 "$MVX" export /proc/self/environ -o "$outs/p.png";$proc
timeout 20 "$MVX" view /proc/self/environ;$proc
timeout 20 "$MVX" import "x${esc}y.tif" -o "$outs/x.mvx";mvx: x\x1b[2Jy.tif: cannot open: No such file or directory
timeout 20 "$MVX" info "m${esc}.mvx";mvx: m\x1b[2J.mvx: cannot open: No such file or directory
TABLE
# A tile named -o among a glob: taken for the option, the next tile for the output, refused.
(cd glob && timeout 20 "$MVX" import *) 2>"$T/names-err"
check "import * with a tile named -o: exit 1" [ $? -eq 1 ]
check "import * with a tile named -o: a.tif is no map, refused in one line" \
    grep -qx "mvx: a.tif: exists and is not a map ([0-9,]* bytes); mvx replaces only maps (write to another name)" "$T/names-err"
# After --, every name is a tile, -o too; a broken link among tiles is skipped, a file named twice
# read once.
(cd glob && timeout 20 "$MVX" import -o "$outs/g.mvx" -- * ../holey ./a.tif) 2>"$T/names-err"
check "import -- * ../holey ./a.tif: exit 0" [ $? -eq 0 ]
for line in "-o and 3 more tiles: 30 x 10, .*" "../holey/gone.tif: a link to nothing: No such file or directory; skipped" \
    "a.tif named again as ./a.tif: read once"; do
    check "import -- * ../holey ./a.tif: says '$line'" grep -qx -- "mvx: $line" "$T/names-err"
done
snapshot >"$T/names-after"
check "names/: nothing created, changed or removed (got $(diff "$T/names-before" "$T/names-after" | head -c 300))" \
    cmp -s "$T/names-before" "$T/names-after"
check "names/victim: untouched" [ "$(cat victim)" = precious ]

finish
