#!/usr/bin/env bash
# make run with no display: the viewer's first frame and its tilted view, saved as 600 x 600 PNGs that differ.
. "$(dirname "$0")/lib.sh"

mkdir "$T/run"
"$TESTMAP" "$T/run/datas.mvx" || exit 1
(cd "$T/run" && DISPLAY= "$here/../../scripts/run.sh" "$(dirname "$MORVATH")") >"$T/out" 2>"$T/err"
status=$?
check "exit status 0 (got $status)" [ "$status" -eq 0 ]
check "nothing on standard error (got '$(head -c 300 "$T/err")')" [ ! -s "$T/err" ]

# Width and height from a PNG's header; nothing when the file is not a PNG.
png_size() {
    [ "$(od -An -tx1 -N8 "$1" | tr -d ' \n')" = 89504e470d0a1a0a ] && od -An -tu4 --endian=big -j16 -N8 "$1" | xargs
}
for f in morvath.png morvath-tilted.png; do
    size=$(png_size "$T/run/$f" 2>/dev/null)
    check "$f is a 600 x 600 PNG (got '$size')" [ "$size" = "600 600" ]
done
differ() { ! cmp -s "$1" "$2"; }
check "the tilted view is not the first frame" differ "$T/run/morvath.png" "$T/run/morvath-tilted.png"

finish
