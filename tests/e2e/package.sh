#!/usr/bin/env bash
# make package's Debian package, built by cpack from the test's build: its files, control fields, compression, stripping, lintian, and mvx run from it unpacked.
. "$(dirname "$0")/lib.sh"

build=$(dirname "$MORVATH")
version=$("$MVX" --version | head -n 1 | cut -d' ' -f2)
arch=$(dpkg --print-architecture)
deb=$T/pkg/morvath_${version}_${arch}.deb

cpack --config "$build/CPackConfig.cmake" -B "$T/pkg" >"$T/cpack.log" 2>&1 || { cat "$T/cpack.log" >&2; fail "cpack"; }
check "cpack wrote morvath_${version}_${arch}.deb (got '$(cd "$T/pkg" 2>/dev/null && ls -- *.deb | xargs)')" [ -f "$deb" ]
[ -f "$deb" ] || finish

# The files, as dpkg-deb lists them: both programs, their manual pages, the completion, the copyright.
dpkg-deb -c "$deb" | awk '$1 !~ /^d/ { print $1, $2, $6 }' | sort -k3 >"$T/contents"
cat >"$T/want" <<EOF
-rwxr-xr-x root/root ./usr/bin/morvath
-rwxr-xr-x root/root ./usr/bin/mvx
-rw-r--r-- root/root ./usr/share/bash-completion/completions/mvx
-rw-r--r-- root/root ./usr/share/doc/morvath/changelog.gz
-rw-r--r-- root/root ./usr/share/doc/morvath/copyright
-rw-r--r-- root/root ./usr/share/man/man1/morvath.1.gz
-rw-r--r-- root/root ./usr/share/man/man1/mvx.1.gz
EOF
check "the files and their modes (got: $(xargs <"$T/contents"))" cmp -s "$T/contents" "$T/want"

# Control fields.
field() { dpkg-deb -f "$deb" "$1"; }
while IFS='=' read -r name want; do
    check "$name: $want (got '$(field "$name")')" [ "$(field "$name")" = "$want" ]
done <<EOF
Package=morvath
Version=$version
Architecture=$arch
Section=science
Priority=optional
EOF
check "Maintainer: a name and an address (got '$(field Maintainer)')" grep -qE '^[^<]+ <[^@ ]+@[^> ]+>$' <<<"$(field Maintainer)"
check "Description: a summary and a longer text" [ "$(field Description | wc -l)" -ge 3 ]
# Depends comes from the libraries the programs link, through dpkg-shlibdeps.
depends=$(field Depends)
echo "Depends: $depends"
for lib in libc6 libgdal libglut libpng16 'libgl1|libopengl0|libglx0' 'libstdc\+\+6'; do
    check "Depends names ${lib//\\/}" grep -qE "(^|, )($lib)" <<<"$depends"
done

# Unpacked into a scratch root: mvx runs from there, binaries stripped, pages and changelog gzipped -9n.
dpkg-deb -x "$deb" "$T/root" || fail "dpkg-deb -x"
check "mvx --version from the unpacked package prints 'mvx $version'" [ "$("$T/root/usr/bin/mvx" --version | head -n 1)" = "mvx $version" ]
for b in morvath mvx; do
    check "$b is stripped ($(file -b "$T/root/usr/bin/$b" | cut -c1-80)...)" grep -q ', stripped' <<<"$(file -b "$T/root/usr/bin/$b")"
done
for gz in usr/share/man/man1/morvath.1.gz usr/share/man/man1/mvx.1.gz usr/share/doc/morvath/changelog.gz; do
    # Header: no file name (FLG 0), no time stamp (MTIME 0), best compression (XFL 2).
    header=$(od -An -tx1 -N10 "$T/root/$gz" | xargs)
    check "$gz: gzip -9n (header '$header')" [ "$header" = "1f 8b 08 00 00 00 00 00 02 03" ]
done
check "the changelog's version is the package's" grep -q "^morvath ($version) " <(zcat "$T/root/usr/share/doc/morvath/changelog.gz")

# lintian, on errors only: its warnings and notes are shown, not failed on.
if command -v lintian >/dev/null; then
    lintian --fail-on error "$deb" >"$T/lintian" 2>"$T/lintian.err"
    status=$?
    cat "$T/lintian" >&2
    check "lintian: no errors (exit $status)" [ "$status" -eq 0 ]
else
    fail "lintian is not installed (scripts/deps.sh installs it)"
fi

finish
