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

finish
