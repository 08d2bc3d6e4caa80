#!/usr/bin/env bash
# The install rules: cmake --install puts morvath and mvx in bin/, their manual pages, mvx's completion and the copyright under share/, and nothing else, under the prefix and DESTDIR.
. "$(dirname "$0")/lib.sh"

build=$(dirname "$MORVATH")

# installed WHAT ROOT PREFIX: ROOT/PREFIX holds exactly the two programs and their documents, and both programs run.
installed() {
    local files want
    files=$(cd "$2" && find . ! -type d | sort | xargs)
    want=$(printf "./${3:+$3/}%s\n" bin/morvath bin/mvx share/bash-completion/completions/mvx share/doc/morvath/changelog.gz \
        share/doc/morvath/copyright share/man/man1/morvath.1.gz share/man/man1/mvx.1.gz | xargs)
    check "$1: only the programs and their documents, in ${3:-the prefix} (got '$files')" [ "$files" = "$want" ]
    local bin=${3:+$3/}bin
    check "$1: mvx --version prints 'mvx 1.0.0'" [ "$("$2/$bin/mvx" --version | head -n 1)" = "mvx 1.0.0" ]
    (cd "$T" && DISPLAY=:none "$2/$bin/morvath") 2>"$T/err"
    check "$1: morvath runs and asks for a map" grep -q 'make one with: mvx generate' "$T/err"
}

cmake --install "$build" --prefix "$T/prefix" >/dev/null || fail "cmake --install --prefix"
installed "--prefix" "$T/prefix" ""

DESTDIR=$T/stage cmake --install "$build" --prefix /opt/morvath-test >/dev/null || fail "cmake --install with DESTDIR"
installed "DESTDIR" "$T/stage" opt/morvath-test

finish
