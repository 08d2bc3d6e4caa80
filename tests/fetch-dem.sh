#!/bin/sh
# Fetches the small elevation GeoTIFF that r-cran-terra ships (ex/elev.tif) into DEST for the DEM
# test. Without network or package lists it says so and leaves nothing, and that test skips.
set -u
dest=$1
[ -s "$dest/elev.tif" ] && exit 0
rm -rf "$dest/pkg" && mkdir -p "$dest/pkg" || exit 1
cd "$dest/pkg" || exit 1
if timeout 180 apt-get download -q r-cran-terra >download.log 2>&1 && dpkg-deb -x r-cran-terra_*.deb root; then
    f=$(find root -path '*/terra/ex/elev.tif' | head -n 1)
    if [ -n "$f" ]; then
        cp "$f" "$dest/elev.tif"
        echo "fetched $dest/elev.tif from r-cran-terra"
    else
        echo "r-cran-terra has no ex/elev.tif: the DEM test will skip"
    fi
else
    echo "could not fetch r-cran-terra (no network or package lists?): the DEM test will skip"
    cat download.log
fi
cd "$dest" && rm -rf pkg
exit 0
