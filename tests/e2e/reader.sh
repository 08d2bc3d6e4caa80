#!/usr/bin/env bash
# The confined reader of imports: the kernel's layers in force, every file read recorded and those
# outside the inputs' folders named, nothing written through a VRT, memory past the limit one line.
. "$(dirname "$0")/lib.sh"
cd "$T" || exit 1

"$MVX" --version >version.txt
check "--version: Landlock in force" grep -q '^  Landlock ABI [0-9]*: reads of the inputs only, no writes' version.txt
check "--version: seccomp in force" grep -q '^  seccomp: ' version.txt

# A raw VRT band over a file in another folder: read (GDAL would open it for update), named, unchanged.
mkdir in elsewhere
printf 'sixteen bytes...' >elsewhere/data.bin
sum=$(sha256sum elsewhere/data.bin)
cat >in/raw.vrt <<VRT
<VRTDataset rasterXSize="4" rasterYSize="4"><VRTRasterBand dataType="Byte" band="1" subClass="VRTRawRasterBand"><SourceFilename relativeToVRT="0">$T/elsewhere/data.bin</SourceFilename></VRTRasterBand></VRTDataset>
VRT
"$MVX" import in/raw.vrt -o raw.mvx 2>err.txt
check "raw.vrt: exit 0" [ $? -eq 0 ]
check "raw.vrt: the summary names the file outside the inputs' folders" \
    grep -q "^mvx: also read, outside the inputs' folders: $T/elsewhere/data.bin$" err.txt
check "raw.vrt: the file it read is unchanged" [ "$(sha256sum elsewhere/data.bin)" = "$sum" ]
check "raw.vrt: the sidecar records every file read" \
    jq -e --arg f "$T/elsewhere/data.bin" '(.read | sort) == (["in/raw.vrt", $f] | sort)' raw.mvx.json
check "raw.vrt: info says what else was read" grep -q "^also read: $T/elsewhere/data.bin$" <("$MVX" info raw.mvx)

# Memory: the map's own sums take more than 128 MiB.
if grep -q 'memory: not limited' version.txt; then
    echo "skipped: memory is not limited in this build"
else
    "$MVX" import in/raw.vrt -o small.mvx --max-memory 128 2>err.txt
    check "--max-memory 128: exit 1" [ $? -eq 1 ]
    check "--max-memory 128: one line naming the file it was reading" \
        grep -qxE "mvx: (in/raw.vrt|$T/elsewhere/data.bin): needs more memory than the 128 MiB mvx gives its reader \(--max-memory\)" err.txt
    check "--max-memory 128: no map" [ ! -e small.mvx ]
fi
finish
