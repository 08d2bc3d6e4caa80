#!/usr/bin/env bash
# The install rules: cmake --install puts morvath and mvx, and nothing else, in bin/ under the prefix and DESTDIR.
. "$(dirname "$0")/lib.sh"

build=$(dirname "$MORVATH")

# installed WHAT ROOT BIN: ROOT holds exactly the two programs, in ROOT/BIN, and both run.
installed() {
    local files
    files=$(cd "$2" && find . ! -type d | sort | xargs)
    check "$1: only morvath and mvx, in $3 (got '$files')" [ "$files" = "./$3/morvath ./$3/mvx" ]
    check "$1: mvx --version prints 'mvx 1.0.0'" [ "$("$2/$3/mvx" --version)" = "mvx 1.0.0" ]
    (cd "$T" && DISPLAY=:none "$2/$3/morvath") 2>"$T/err"
    check "$1: morvath runs and asks for a map" grep -q 'make one with: mvx generate' "$T/err"
}

cmake --install "$build" --prefix "$T/prefix" >/dev/null || fail "cmake --install --prefix"
installed "--prefix" "$T/prefix" bin

DESTDIR=$T/stage cmake --install "$build" --prefix /opt/morvath-test >/dev/null || fail "cmake --install with DESTDIR"
installed "DESTDIR" "$T/stage" opt/morvath-test/bin

finish
