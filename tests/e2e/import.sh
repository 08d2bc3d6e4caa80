#!/usr/bin/env bash
# mvx import, export and info as a user runs them: bad inputs, an existing map kept intact, round trips.
. "$(dirname "$0")/lib.sh"

"$IMPORT_INPUTS" "$T" || exit 1
cd "$T" || exit 1

for cmd in import export info generate; do
    out=$("$MVX" "$cmd" --help)
    check "mvx $cmd --help: exit 0 and its usage" [ $? -eq 0 ] && [[ "$out" == "usage: mvx $cmd"* ]]
    check "mvx help $cmd: the same" [ "$("$MVX" help "$cmd")" = "$out" ]
done
check "mvx --version: the project's version" [ "$("$MVX" --version | head -n 1)" = "mvx 1.0.0" ]
out=$("$MVX" imprt 2>&1)
check "a misspelt command: exit 1 and the command it looks like" \
    [ $? -eq 1 ] && [ "$out" = "mvx: unknown command 'imprt'; did you mean 'import'? (see mvx --help)" ]

# The map a failed import must leave alone, byte for byte.
"$TESTMAP" keep.mvx || exit 1
cp keep.mvx keep.orig

# refuse DESCRIPTION MESSAGE ARGS...: exit 1, exactly MESSAGE as the only line, nothing on
# standard output, keep.mvx untouched and no temporary file left beside it.
refuse() {
    local what=$1 want=$2
    shift 2
    "$MVX" "$@" >out.txt 2>err.txt
    local status=$?
    check "$what: exit status 1 (got $status)" [ "$status" -eq 1 ]
    check "$what: says '$want' (got '$(head -c 300 err.txt)')" [ "$(cat err.txt)" = "$want" ]
    check "$what: nothing on standard output" [ ! -s out.txt ]
    check "$what: the existing map is unchanged" cmp -s keep.mvx keep.orig
    check "$what: no temporary file left" [ -z "$(ls | grep '\.tmp\.')" ]
}

while IFS='|' read -r file want; do
    refuse "import $file" "mvx: $file: $want" import "$file" -o keep.mvx
done <<'TABLE'
truncated.png|cannot read: Error while reading row 0: libpng: Read Error
badcrc.png|cannot read: Error while reading row 63: libpng: IDAT: incorrect data check
zero.png|libpng: Invalid IHDR data
huge.png|1.6e+11 samples to read at the resolution needed, more than the 1.37e+11 mvx reads; build overviews first (gdaladdo -r average huge.png), or import a part with --bounds
palette.png|a palette image, not greyscale heights (convert it to greyscale, or give it as --colour)
photo.png|a colour image, not greyscale heights (convert it to greyscale, or give it as --colour)
garbage.png|not in a format mvx reads (mvx help import lists them)
empty.png|not in a format mvx reads (mvx help import lists them)
notes.txt|not in a format mvx reads (mvx help import lists them)
truncated.tif|TIFFReadDirectory:Failed to read directory at offset 136
rgb.tif|a colour image, not greyscale heights (convert it to greyscale, or give it as --colour)
huge.tif|1.6e+11 samples to read at the resolution needed, more than the 1.37e+11 mvx reads; build overviews first (gdaladdo -r average huge.tif), or import a part with --bounds
odd.r16|7 bytes is not a square grid of 16-bit samples (give its size with --size WxH)
short.hgt|not in a format mvx reads (mvx help import lists them)
missing.png|cannot open: No such file or directory
net.vrt|refers to a network source (/vsicurl/https://example.com/dem.tif); mvx reads local files only: download it first
TABLE
refuse "r16 with the wrong --size" "mvx: odd.r16: 7 bytes do not hold 2 x 2 16-bit samples (8 bytes)" \
    import odd.r16 --size 2x2 -o keep.mvx
refuse "corrupt colour image" "mvx: truncated.png: cannot read: Error while reading row 0: libpng: Read Error" \
    import hills.png --colour truncated.png -o keep.mvx
refuse "--range upside down" "mvx: --range: '5:1': MIN must be below MAX" import hills.png --range 5:1 -o keep.mvx
refuse "--size not WxH" "mvx: --size: '64' is not WxH" import odd.r16 --size 64 -o keep.mvx
refuse "no height file" "mvx: import: no height file given (see mvx import --help)" import -o keep.mvx
refuse "export without -o" "mvx: export: no output given: -o FILE.png (see mvx export --help)" export keep.mvx
refuse "export of a short map" "mvx: odd.r16: 7 bytes, not a complete map of 75497472 (see mvx info)" \
    export odd.r16 -o x.png

# Never clobbering: an output that is an input is refused at once and left as it was (every other
# name and kind of file: the unit tests); so is a sidecar that does not fit the map.
cp hills.png hills.orig
never="inputs are never overwritten (write to another name)"
refuse "import onto its input" "mvx: ./hills.png: is the input hills.png; $never" import hills.png -o ./hills.png
check "import onto its input: the input is unchanged" cmp -s hills.png hills.orig
printf '{"format":"mvx map sidecar 1","box":{"x0":6000,"y0":0,"w":6144,"h":4096}}' >keep.mvx.json
refuse "export --heights with a sidecar outside the map" \
    "mvx: keep.mvx.json: its box, columns 6000 to 12143 and rows 0 to 4095, is not within the 6144 x 4096 map" \
    export keep.mvx --heights -o x.tif
"$MVX" info keep.mvx >info.txt
check "info with a sidecar outside the map: exit 0" [ $? -eq 0 ]
check "info with a sidecar outside the map: says it is ignored" grep -q '^sidecar ignored: keep.mvx.json: its box' info.txt
rm keep.mvx.json

# A 16-bit PNG heightmap of the map's shape becomes a complete map in one command.
"$MVX" import hills.png -o hills.mvx 2>err.txt
check "import hills.png: exit 0" [ $? -eq 0 ]
# The range is of the heights the map holds: interpolated, held within the samples around each cell.
check "import hills.png: reports the range it mapped" \
    grep -qx 'mvx: hills.png: 300 x 200, heights 2000 to 61999 mapped onto levels -128 to 127' err.txt
check "import hills.png: and its sidecar" grep -qx 'mvx: wrote hills.mvx and its sidecar hills.mvx.json' err.txt
"$MVX" info hills.mvx >info.txt
check "info hills.mvx: exit 0" [ $? -eq 0 ]
check "info hills.mvx: complete, full range" \
    grep -qx 'heights: -128 to 127' info.txt
check "info hills.mvx: complete" grep -q 'complete (6144 x 4096 cells)' info.txt

# Not 3:2: fitted whole, and the user is told where.
"$MVX" import square.png -o square.mvx 2>err.txt
check "import square.png: says how it was fitted" grep -q 'fitted to its height as 4096 x 4096 cells in columns 1024 to 5119' err.txt

# Export then import gives the same heights back, on a map that does not span the whole range.
"$MVX" export levels.mvx --heights -o levels.png 2>/dev/null &&
    "$MVX" import levels.png -o back.mvx 2>/dev/null &&
    "$MVX" export back.mvx --heights -o back.png 2>/dev/null
check "export --heights, import, export --heights: exit 0" [ $? -eq 0 ]
check "export then import gives the same heights back" cmp -s levels.png back.png
"$MVX" info levels.mvx >info.txt
check "info levels.mvx: heights -90 to 109" grep -qx 'heights: -90 to 109' info.txt

# A preview at 1/8 of the size.
"$MVX" export levels.mvx --scale 8 -o preview.png 2>err.txt
check "export --scale 8: says 768 x 512" grep -qx 'mvx: wrote preview.png (768 x 512, colours)' err.txt
check "export --scale 8: a 768 x 512 RGB PNG" \
    [ "$(od -An -tx1 -j16 -N10 preview.png | tr -d ' \n')" = "00000300000002000802" ]

# A zipped SRTM tile as downloaded, then its heights back out as a GeoTIFF where the tile lies.
"$MVX" import N45E006.hgt.zip -o tile.mvx 2>err.txt
check "import N45E006.hgt.zip: exit 0" [ $? -eq 0 ]
check "import N45E006.hgt.zip: its ground size" grep -q '(78.09 x 111.4 km on the ground)' err.txt
"$MVX" info tile.mvx >info.txt
check "info tile.mvx: source and scale from the sidecar" \
    grep -q '^source: N45E006.hgt.zip (mvx import), EPSG:4326$' info.txt && grep -q '^scale: 27.2 m per cell' info.txt
"$MVX" export tile.mvx --heights -o tile.tif 2>/dev/null
check "export --heights -o tile.tif: exit 0" [ $? -eq 0 ]
if command -v gdalinfo >/dev/null; then
    gdalinfo tile.tif >gdalinfo.txt 2>&1
    check "gdalinfo tile.tif: in EPSG:4326" grep -q 'ID\["EPSG",4326\]' gdalinfo.txt
    check "gdalinfo tile.tif: its corner at 6 E, 46 N (half a sample out)" grep -q '^Upper Left  (   5.99958[0-9]*,  46.0004' gdalinfo.txt
fi

# Tiles by directory and by a list on standard input, and the file they were cut from: the same
# map (tiles named in any order: the unit tests).
"$MVX" import tiles -o by_dir.mvx 2>err.txt
check "import tiles/: exit 0" [ $? -eq 0 ]
check "import tiles/: six tiles, not their companion" grep -q '^mvx: tiles/t00.tif and 5 more tiles: 1200 x 750' err.txt
printf '# the tiles\n\n%s\n' tiles/t1*.tif tiles/t0*.tif | "$MVX" import --input-list - -o by_list.mvx 2>/dev/null
check "import --input-list -: exit 0" [ $? -eq 0 ]
"$MVX" import ramp.tif -o whole.mvx 2>/dev/null
check "tiles by directory and by list: the same map" cmp -s by_dir.mvx by_list.mvx
# Summed in another order, a cell's height may differ in its last bits: a level or a dithered
# colour bit apart on a handful of the 25 million cells at most.
check "tiles and the file they were cut from: the same map but for a handful of bytes" \
    [ "$(cmp -l by_dir.mvx whole.mvx | wc -l)" -le 10 ]

# A tile that a directory brings is an input like one named.
cp tiles/t00.tif t00.orig
"$MVX" import tiles -o tiles/t00.tif 2>err.txt
status=$?
check "import tiles -o tiles/t00.tif: refused (status $status)" [ "$status" -eq 1 ] &&
    [ "$(cat err.txt)" = "mvx: tiles/t00.tif: is an input; inputs are never overwritten (write to another name)" ]
check "import tiles -o tiles/t00.tif: the tile is untouched" cmp -s tiles/t00.tif t00.orig

# Ctrl-C while importing (the map's 25 million cells take it a second at least): the old map and
# its sidecar stay, and nothing is left beside them.
# (With job control, as in a terminal: otherwise a background job starts with SIGINT ignored.)
cp by_dir.mvx kept.mvx && cp by_dir.mvx.json kept.mvx.json
set -m
"$MVX" import ramp.tif -o kept.mvx 2>/dev/null &
pid=$!
sleep 0.3
kill -INT "$pid"
wait "$pid"
status=$?
set +m
check "an interrupted import: stopped by the signal (status $status)" [ "$status" -ne 0 ]
check "an interrupted import: the old map stays" cmp -s kept.mvx by_dir.mvx
check "an interrupted import: and its sidecar" cmp -s kept.mvx.json by_dir.mvx.json
check "an interrupted import: no temporary file" [ -z "$(ls | grep '^kept\.mvx.*tmp')" ]

# info on an incomplete map: its report, then exit 1 with one line on standard error.
head -c 100000 levels.mvx >short.mvx
"$MVX" info short.mvx >info.txt 2>err.txt
status=$?
check "info on a short map: exit 1 (got $status)" [ "$status" -eq 1 ]
check "info on a short map: says so" [ "$(cat err.txt)" = "mvx: short.mvx: 100000 bytes, not 75497472: not a complete map" ]
check "info on a short map: still reports what is there" grep -q 'incomplete: 33,333 of 25,165,824 cells' info.txt

finish
