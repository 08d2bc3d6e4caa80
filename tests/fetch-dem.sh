#!/bin/sh
# Fetches real DEMs that Debian packages ship into DEST, for the DEM tests and the README's pictures:
# r-cran-terra's ex/elev.tif, and python-matplotlib-data's jacksboro_fault_dem.npz turned into
# jacksboro.tif by NPZ_TO_GEOTIFF. Without network or package lists it says so and leaves nothing,
# and the tests of that DEM skip.
# usage: fetch-dem.sh DEST NPZ_TO_GEOTIFF
set -u
dest=$1
npz_to_geotiff=$2

# get PACKAGE PATH OUT: the file of PACKAGE whose path ends in PATH, copied to OUT.
get() {
    [ -s "$3" ] && return 0
    rm -rf "$dest/pkg" && mkdir -p "$dest/pkg" || exit 1
    (
        cd "$dest/pkg" || exit 1
        if timeout 180 apt-get download -q "$1" >download.log 2>&1 && dpkg-deb -x "$1"_*.deb root; then
            f=$(find root -path "*/$2" | head -n 1)
            if [ -n "$f" ]; then
                cp "$f" "$3" && echo "fetched $3 from $1"
            else
                echo "$1 has no $2: the tests of that DEM will skip"
            fi
        else
            echo "could not fetch $1 (no network or package lists?): the tests of that DEM will skip"
            cat download.log
        fi
    )
    rm -rf "$dest/pkg"
}

mkdir -p "$dest" || exit 1
dest=$(cd "$dest" && pwd)
get r-cran-terra terra/ex/elev.tif "$dest/elev.tif"
if [ ! -s "$dest/jacksboro.tif" ]; then
    get python-matplotlib-data sample_data/jacksboro_fault_dem.npz "$dest/jacksboro.npz"
    if [ -s "$dest/jacksboro.npz" ]; then
        "$npz_to_geotiff" "$dest/jacksboro.npz" "$dest/jacksboro.tmp.tif" && mv "$dest/jacksboro.tmp.tif" "$dest/jacksboro.tif"
        rm -f "$dest/jacksboro.npz" "$dest/jacksboro.tmp.tif"
    fi
fi
exit 0
