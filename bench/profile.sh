#!/usr/bin/env bash
# Where a program's CPU time goes, by kind of work: samples of its call stacks (linux-perf), each put in the first kind it shows.
# usage: bench/profile.sh SCRATCH_DIR PROGRAM [ARGS...]
# Prints "profile KIND PERCENT" lines (the kinds below), then "profile samples N"; exits 1 when perf
# cannot sample here. A sample is of the first kind below that any of its frames shows:
#   decode       the file's decoders (libtiff, deflate, zstd, lzma, jpeg, png, webp, lerc), GDAL's block reads and mvx's own
#   setup        opening files and reading their headers and georeferencing (GDALOpen, TIFF directories, the gate)
#   coordinates  coordinate systems worked out (PROJ, its SQLite database, OGR's spatial references)
#   copies       samples copied or converted between GDAL's block cache and mvx's buffers
#   weights      the kernels' weights tabled, and the read planned
#   sums         samples masked and summed across and down, bands of rows added and divided
#   map          what follows the read: levels, colours and light, statistics, the map and sidecar written
#   other        the rest (start-up, the kernel's page clearing outside these, threads waiting)
set -u
S=${1:?usage: bench/profile.sh SCRATCH_DIR PROGRAM [ARGS...]}
shift
mkdir -p "$S"
perf record -q -F 499 --call-graph dwarf,16384 -o "$S/perf.data" -- "$@" >/dev/null 2>"$S/perf.err" || exit 1
perf script -i "$S/perf.data" -F ip,sym,dso 2>/dev/null | awk '
function kind(f) {
    if (f ~ /proj_|libproj|libsqlite|OGRSpatialReference|OSR[A-Z]|crs_of|transform_box/) return "coordinates"
    if (f ~ /GDALOpen|open_dataset|open_raster_file|open_tile|open_level|TIFFClientOpen|TIFFReadDirectory|GDALOpenInfo|Gate::|vet_|check_local|check_references|describe_band|geokeys/) return "setup"
    if (f ~ /libtiff|libdeflate|libz\.so|libzstd|liblzma|libjpeg|libpng|libwebp|libLerc|IReadBlock|GetLockedBlockRef|FloatTiffBlocks/) return "decode"
    if (f ~ /GDALCopyWords|memmove|memcpy|GDALRasterBand::IRasterIO|GDALRasterIO/) return "copies"
    if (f ~ /taps_by_|weight\(|plan_reads|plan_tile|overlapping|cut_units/) return "weights"
    if (f ~ /engine::|read_field/) return "sums"
    if (f ~ /colour_relief|shade_row|level_map|choose_scale|first_view_hint|save_map|write_map|summarise|sidecar|import_map|PendingFile/) return "map"
    return ""
}
# A sample: its frames up to a blank line, of the kind that comes first in `order`.
function tally() {
    if (!n) return
    best = 99
    for (i = 1; i <= n; i++) { k = kind(fr[i]); if (k != "" && rank[k] < best) best = rank[k] }
    count[best == 99 ? "other" : order[best]]++
    total++
    n = 0
}
BEGIN { m = split("coordinates setup decode copies weights sums map", order, " "); for (i = 1; i <= m; i++) rank[order[i]] = i }
/^$/ { tally(); next }
{ fr[++n] = $0 }
END {
    tally()
    split("decode setup coordinates copies weights sums map other", kinds, " ")
    for (i = 1; i <= 8; i++) printf "profile %s %.1f\n", kinds[i], total ? 100 * count[kinds[i]] / total : 0
    printf "profile samples %d\n", total
}'
