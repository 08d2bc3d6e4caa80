#!/usr/bin/env bash
# mvx import, export and info as a user runs them: bad inputs, an existing map kept intact, round trips.
. "$(dirname "$0")/lib.sh"

"$IMPORT_INPUTS" "$T" || exit 1
cd "$T" || exit 1

for cmd in import export info generate; do
    out=$("$MVX" "$cmd" --help)
    check "mvx $cmd --help: exit 0 and its usage" [ $? -eq 0 ] && [[ "$out" == "usage: mvx $cmd"* ]]
done

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
truncated.png|corrupt or truncated PNG: a chunk runs past the end of the file
badcrc.png|corrupt or truncated PNG: IDAT: incorrect data check
zero.png|zero-sized image (0 x 10)
huge.png|200000 x 100000 is too large to hold in memory (at most 268435456 samples)
palette.png|a palette image, not greyscale heights (convert it to greyscale, or give it as --colour)
photo.png|a colour image, not greyscale heights (convert it to greyscale, or give it as --colour)
garbage.png|not a PNG file (no PNG signature)
empty.png|empty file
notes.txt|unknown format (heights must be PNG or GeoTIFF, or raw data named .hgt or .r16)
truncated.tif|corrupt or truncated TIFF: Can not read TIFF directory count
rgb.tif|has 3 samples per pixel, not heights (a colour image? heights need one sample per pixel)
huge.tif|100000 x 100000 is too large to hold in memory (at most 268435456 samples)
odd.r16|7 bytes is not a square grid of 16-bit samples (give its size with --size WxH)
short.hgt|1000 bytes is not an SRTM tile (1201 x 1201 or 3601 x 3601 samples: 2884802 or 25934402 bytes)
missing.png|cannot open: No such file or directory
TABLE
refuse "r16 with the wrong --size" "mvx: odd.r16: 7 bytes do not hold 2 x 2 16-bit samples (8 bytes)" \
    import odd.r16 --size 2x2 -o keep.mvx
refuse "corrupt colour image" "mvx: truncated.png: corrupt or truncated PNG: a chunk runs past the end of the file" \
    import hills.png --colour truncated.png -o keep.mvx
refuse "--range upside down" "mvx: --range: '5:1': MIN must be below MAX" import hills.png --range 5:1 -o keep.mvx
refuse "--size not WxH" "mvx: --size: '64' is not WxH" import odd.r16 --size 64 -o keep.mvx
refuse "no height file" "mvx: import: no height file given (see mvx import --help)" import -o keep.mvx
refuse "export without -o" "mvx: export: no output given: -o FILE.png (see mvx export --help)" export keep.mvx
refuse "export of a short map" "mvx: odd.r16: 7 bytes, not a complete map of 75497472 (see mvx info)" \
    export odd.r16 -o x.png

# A 16-bit PNG heightmap of the map's shape becomes a complete map in one command.
"$MVX" import hills.png -o hills.mvx 2>err.txt
check "import hills.png: exit 0" [ $? -eq 0 ]
check "import hills.png: reports the range it mapped" \
    grep -qx 'mvx: hills.png: 300 x 200, heights 2000 to 61999 mapped onto levels -128 to 127' err.txt
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

# info on an incomplete map: its report, then exit 1 with one line on standard error.
head -c 100000 levels.mvx >short.mvx
"$MVX" info short.mvx >info.txt 2>err.txt
status=$?
check "info on a short map: exit 1 (got $status)" [ "$status" -eq 1 ]
check "info on a short map: says so" [ "$(cat err.txt)" = "mvx: short.mvx: 100000 bytes, not 75497472: not a complete map" ]
check "info on a short map: still reports what is there" grep -q 'incomplete: 33,333 of 25,165,824 cells' info.txt

finish
