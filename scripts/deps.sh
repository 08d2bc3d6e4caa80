#!/bin/sh
# Installs the Debian packages the build, the viewer, the package, the tests and the benchmarks need, when any is missing.
set -eu
pkgs="cmake make g++ pkg-config libgl-dev libgl1-mesa-dri freeglut3-dev libpng-dev libx11-dev
      libgtest-dev libtiff-dev libdeflate-dev libgdal-dev libhdf5-dev libsqlite3-dev gdal-bin libseccomp-dev xvfb xauth xdotool clang libclang-rt-14-dev
      groff-base jq dpkg-dev file lintian time linux-perf"
missing=
for p in $pkgs; do
    dpkg-query -W -f='${Status}\n' "$p" 2>/dev/null | grep -q '^install ok installed' || missing="$missing $p"
done
[ -z "$missing" ] && exit 0
if [ "$(id -u)" -ne 0 ]; then
    echo "missing packages:$missing" >&2
    echo "install them with: sudo apt-get update && sudo apt-get install -y --no-install-recommends$missing" >&2
    exit 1
fi
echo "installing:$missing" >&2
apt-get update -q
DEBIAN_FRONTEND=noninteractive apt-get install -y -q --no-install-recommends $missing
