#!/usr/bin/env bash
# mvx import against hostile inputs: no connection to a server named in any spelling or nesting,
# no wait on a FIFO, no file written or changed beside the output (a driver's cache, a database's
# log, GDAL's notes on a .gz), no read behind the gate, no pointer into memory, refusals before
# huge decodes and reads, raw data whole, no place past a pole.
#
# The table, after TABLE below: a row a line, three fields split at '|':
#   STATUS|ARGUMENTS|LAST LINE
# STATUS is mvx's exit status; ARGUMENTS follow 'mvx import' (split at blanks; every row adds
# -o with an output of the test's own); LAST LINE is a bash pattern that the last line mvx writes
# on standard error must match. The inputs lie in $in, written by hostile_inputs, and rows name
# them relative to it; $HOME is a fake one with a .bashrc and an autostart entry in it.
# Every row also checks, whatever its status:
#   - mvx ends within $seconds s (timeout; 20 s, three times that under the sanitizers, which run
#     the readers several times slower);
#   - nothing under $in or $HOME is created, removed or changed (a listing with sizes, modes and
#     times, and checksums of the files under 2 MB, taken before and after);
#   - nothing reaches the server on 127.0.0.1, and, where strace runs, mvx calls no connect();
#   - mvx's peak memory (GNU time's maximum resident set) stays under 1 GiB;
#   - none of GDAL's own "ERROR n:" or "Warning n:" lines, nor the HDF5 library's, reach the terminal.
. "$(dirname "$0")/lib.sh"

in=$T/in home=$T/home out=$T/out
mkdir -p "$in" "$home/.config/autostart" "$out" || exit 1
printf '# the user'\''s shell start-up\n' >"$home/.bashrc"
printf '[Desktop Entry]\nType=Application\nExec=true\n' >"$home/.config/autostart/mvx.desktop"
"$LISTENER" "$out/port.txt" "$out/connections.txt" &
listener=$!
trap 'kill "$listener" 2>/dev/null; stop_all; rm -rf "$T"' EXIT
for _ in $(seq 100); do [ -s "$out/port.txt" ] && break; sleep 0.05; done
port=$(cat "$out/port.txt") || exit 1
"$HOSTILE_INPUTS" "$in" "$port" "$home" || exit 1
cd "$in" || exit 1

# The network calls, where strace may trace here (a container may forbid it).
trace=()
if strace -f --seccomp-bpf -e trace=network -o /dev/null true 2>/dev/null; then
    trace=(strace -f --seccomp-bpf -e trace=network -o "$out/trace.txt")
fi
limit_kb=$((1024 * 1024))
seconds=20
[ -n "${ASAN_OPTIONS:-}" ] && seconds=60

snapshot() {
    find "$in" "$home" -printf '%p %y %s %m %T@ %C@\n' | LC_ALL=C sort
    find "$in" "$home" -type f -size -2M -print0 | LC_ALL=C sort -z | xargs -0 md5sum
}
matches() { [[ $1 == $2 ]]; }
same() { [ "$1" == "$2" ] || { diff <(echo "$1") <(echo "$2") | head -5 >&2; return 1; }; }
no_gdal_lines() { ! grep -E '^(ERROR|Warning) [0-9]+:|HDF5-DIAG' "$out/stderr.txt" >&2; }
no_connect() { [ ! -e "$out/trace.txt" ] || ! grep 'connect(' "$out/trace.txt" >&2; }

# row STATUS ARGUMENTS PATTERN: one import and every check above.
row() {
    local argv before got last peak
    read -r -a argv <<<"$2"
    before=$(snapshot)
    rm -f "$out/trace.txt"
    HOME=$home /usr/bin/time -f %M -o "$out/peak.txt" timeout "$seconds" "${trace[@]}" \
        "$MVX" import "${argv[@]}" -o "$out/out.mvx" </dev/null >/dev/null 2>"$out/stderr.txt"
    got=$?
    last=$(tail -n 1 "$out/stderr.txt")
    peak=$(tail -n 1 "$out/peak.txt")
    check "import $2: exit $1 (got $got)" [ "$got" -eq "$1" ]
    check "import $2: says '$3' (got '$last')" matches "$last" "$3"
    check "import $2: nothing beside the output created or changed" same "$(snapshot)" "$before"
    check "import $2: no connection" [ ! -s "$out/connections.txt" ]
    check "import $2: no connect() traced" no_connect
    check "import $2: peak memory ${peak} KiB, under 1 GiB" [ "$peak" -lt "$limit_kb" ]
    check "import $2: none of GDAL's own lines" no_gdal_lines
}

curl="/vsicurl?url=http%3A%2F%2F127.0.0.1%3A$port%2Fx.tif"
net="mvx reads local files only: download it first"
mem="MEM:::DATAPOINTER=0x1000,PIXELS=100,LINES=100"
memory="a MEM::: name, an address in mvx's own memory, not a file"
own="mvx reads only what a file holds itself"
decodes="more than the 256 MiB mvx decodes at once"
unread="not in a format mvx reads (mvx help import lists them)"
while IFS='|' read -r status args want; do
    row "$status" "$args" "$want"
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
1|many.zip|mvx: many.zip: nothing inside that GDAL reads as a raster (it holds m0.txt and 1999 more)
1|cut.img|mvx: cut.img: it is cut short: 8,000 bytes where its raw layout needs 16,000
1|short.vrt|mvx: short.vrt: refers to short.bin, which is cut short: 4 bytes where its raw layout needs 16
1|mem.vrt|mvx: mem.vrt: refers to /proc/self/mem, which is under /proc, where mvx reads nothing
1|dir.vrt|mvx: dir.vrt: refers to adir, which is a directory, not a regular file
1|polar.tif|mvx: polar.tif: its latitudes reach 95, beyond the pole: its georeferencing is wrong (check its coordinate system and cell size)
1|mrf.tif|mvx: mrf.tif: $unread
1|environ.h5|mvx: environ.h5: it is an HDF5 file whose dataset elevation keeps its data in another file (/proc/self/environ): $own
1|urandom.nc|mvx: urandom.nc: it is an HDF5 file whose dataset elevation keeps its data in another file (/dev/urandom): $own
1|NETCDF:"fifo.nc":elevation|mvx: NETCDF:"fifo.nc":elevation: refers to fifo.nc, which is an HDF5 file whose dataset elevation keeps its data in another file (fifo): $own
1|$mem|mvx: $mem: it is $memory
1|dem.tif --colour $mem|mvx: $mem: it is $memory
1|memptr.vrt|mvx: memptr.vrt: refers to $mem, which is $memory
1|memovr.tif|mvx: memovr.tif: refers to $mem, which is $memory
0|wal.gpkg|mvx: wrote $out/out.mvx and its sidecar $out/out.mvx.json
0|dem.tif.gz|mvx: wrote $out/out.mvx and its sidecar $out/out.mvx.json
1|big.webp|mvx: big.webp: it is a WebP image of 16,383 x 16,383 pixels, decoded whole into 805,208,067 bytes, $decodes
1|frames.gif|mvx: frames.gif: it is a GIF whose 2 frames decode into 900,000,064 bytes at once, $decodes
1|rle.bmp|mvx: rle.bmp: it is a run-length compressed BMP of 30,000 x 30,000 pixels, decoded whole into 900,000,000 bytes, $decodes
1|tile.fits|mvx: tile.fits: $unread
1|chain.tif|mvx: chain.tif: it is a TIFF of more than 4,096 directories, more than mvx opens
1|chain.tif.gz|mvx: chain.tif.gz: refers to /vsigzip/chain.tif.gz, which is a TIFF of more than 4,096 directories, more than mvx opens
0|label.xml|mvx: wrote $out/out.mvx and its sidecar $out/out.mvx.json
1|cut.tif|mvx: cut.tif: TIFFReadDirectory:Failed to read directory at offset 40
TABLE

# Three bands of 270 million pixels: grey, as far as a bounded sample of them shows.
row 0 wide.vrt "mvx: wrote $out/out.mvx and its sidecar $out/out.mvx.json"
check "import wide.vrt: a sample of it looked at" \
    grep -qx "mvx: wide.vrt: colour image whose pixels looked at (a sample of it) are all grey, read as greyscale" "$out/stderr.txt"

# --- Names, lists and outputs (inputs from names/): mvx writes nothing it was not told to, never
# through a link it did not get, refuses at once in bounded memory, and says so in one line.
export LC_ALL=C  # globs sort as the rows expect: -o first
cd "$in/names" || exit 1
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
yes m | timeout "$seconds" "$MVX" import --input-list - -o "$outs/x.mvx";mvx: --input-list: standard input: more than 100,000 lines; mvx imports at most 100,000 files at once
timeout "$seconds" "$MVX" import --input-list big.list -o "$outs/x.mvx";mvx: --input-list: big.list: more than 100,000 lines; mvx imports at most 100,000 files at once
(cd planted && timeout "$seconds" "$MVX" import ../glob/a.tif);mvx: datas.mvx$link
timeout "$seconds" "$MVX" import glob/a.tif -o planted/m.mvx;mvx: planted/m.mvx.json$link
timeout "$seconds" "$MVX" export huge.mvx --heights -o "$outs/h.tif";mvx: huge.mvx.json: level 127 stands for 1.27e+39, beyond what a float32 GeoTIFF holds (3.4e+38)
timeout "$seconds" "$MVX" export broken.mvx --heights -o "$outs/b.tif";mvx: broken.mvx.json: not JSON
timeout "$seconds" "$MVX" info /proc/self/environ;$proc
timeout "$seconds" "$MVX" export /proc/self/environ -o "$outs/p.png";$proc
timeout "$seconds" "$MVX" view /proc/self/environ;$proc
timeout "$seconds" "$MVX" import "x${esc}y.tif" -o "$outs/x.mvx";mvx: x\x1b[2Jy.tif: cannot open: No such file or directory
timeout "$seconds" "$MVX" info "m${esc}.mvx";mvx: m\x1b[2J.mvx: cannot open: No such file or directory
TABLE
# A tile named -o among a glob: taken for the option, the next tile for the output, refused.
(cd glob && timeout "$seconds" "$MVX" import *) 2>"$T/names-err"
check "import * with a tile named -o: exit 1" [ $? -eq 1 ]
check "import * with a tile named -o: a.tif is no map, refused in one line" \
    grep -qx "mvx: a.tif: exists and is not a map ([0-9,]* bytes); mvx replaces only maps (write to another name)" "$T/names-err"
# After --, every name is a tile, -o too; a broken link among tiles is skipped, a file named twice
# read once.
(cd glob && timeout "$seconds" "$MVX" import -o "$outs/g.mvx" -- * ../holey ./a.tif) 2>"$T/names-err"
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
