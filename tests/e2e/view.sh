#!/usr/bin/env bash
# mvx view: a map elsewhere shown from another directory, nothing left behind, the viewer's status passed on, bad maps refused first.
. "$(dirname "$0")/lib.sh"

mkdir "$T/maps" "$T/here" "$T/tmp"
map="$T/maps/a map.mvx"
"$TESTMAP" "$map" || exit 1
head -c 30000 "$map" >"$T/maps/short.mvx"
export TMPDIR=$T/tmp

nothing_left() {
    local left
    left=$(ls -A "$T/here" "$T/tmp" | grep -v ':$' | xargs)
    check "$1: nothing left in the working directory nor in TMPDIR (got '$left')" [ -z "$left" ]
}

# Refused before any window: with a display that cannot be opened, any attempt to start the
# viewer would add its own complaint to mvx info's one line.
for bad in "$T/maps/none.mvx" "$T/maps/short.mvx" "$T/maps"; do
    "$MVX" info "$bad" >/dev/null 2>"$T/info.err"
    (cd "$T/here" && DISPLAY=:none "$MVX" view "$bad") >"$T/out" 2>"$T/err"
    status=$?
    check "$(basename "$bad"): refused with exit status 1 (got $status)" [ "$status" -eq 1 ]
    check "$(basename "$bad"): mvx info's message, alone (got '$(cat "$T/err")')" cmp -s "$T/err" "$T/info.err"
    check "$(basename "$bad"): nothing on standard output" [ ! -s "$T/out" ]
done
nothing_left "refused maps"

# A stand-in viewer beside a copy of mvx reports where it ran and what datas.mvx was there, then
# ends as told by $END: an exit status, a signal it sends itself, or (trap) when SIGINT or SIGTERM
# reaches it.
mkdir "$T/fake" "$T/lonely"
cp "$MVX" "$T/fake/mvx" && cp "$MVX" "$T/lonely/mvx" || exit 1
cat >"$T/fake/morvath" <<'EOF'
#!/bin/sh
[ "$END" = trap ] && trap 'echo passed on >"$REPORT/signal"; exit 3' INT TERM
pwd >"$REPORT/cwd"
ls -A >"$REPORT/files"
readlink datas.mvx >"$REPORT/link"
# An internet socket, as an X display over TCP needs: refused by nothing listening, not forbidden.
bash -c ': </dev/tcp/127.0.0.1/1' 2>"$REPORT/tcp"
case $END in
exit*) exit "${END#exit }" ;;
kill*) kill "-${END#kill }" $$ ;;
trap) while :; do sleep 0.05; done ;;
esac
EOF
chmod +x "$T/fake/morvath"
export REPORT=$T/report
mkdir "$REPORT"
for c in "exit 0:0" "exit 7:7" "kill USR1:138" "kill KILL:137"; do
    rm -f "$REPORT"/*
    (cd "$T/here" && END=${c%:*} "$T/fake/mvx" view "../maps/a map.mvx") >"$T/out" 2>"$T/err"
    status=$?
    check "viewer ending by $c: mvx view exits ${c#*:} (got $status)" [ "$status" -eq "${c#*:}" ]
    check "viewer ending by $c: mvx says nothing (got '$(cat "$T/out" "$T/err")')" [ ! -s "$T/out" -a ! -s "$T/err" ]
    case $(cat "$REPORT/cwd" 2>/dev/null) in
    "$T/tmp/"?*) pass "viewer ending by $c: it ran in a directory of its own under TMPDIR" ;;
    *) fail "viewer ending by $c: it ran in '$(cat "$REPORT/cwd" 2>/dev/null)', not under $T/tmp" ;;
    esac
    check "viewer ending by $c: datas.mvx alone there (got '$(xargs <"$REPORT/files")')" [ "$(cat "$REPORT/files")" = datas.mvx ]
    check "viewer ending by $c: it may open an internet socket (got '$(cat "$REPORT/tcp")')" \
        grep -q 'Connection refused' "$REPORT/tcp"
    check "viewer ending by $c: datas.mvx links to the map's absolute path (got '$(cat "$REPORT/link")')" \
        [ "$(cat "$REPORT/link")" = "$(realpath "$map")" ]
    nothing_left "viewer ending by $c"
done

# No viewer beside mvx nor on the PATH (where it is looked for: the unit tests).
(cd "$T/here" && PATH=/nonexistent "$T/lonely/mvx" view "$map") 2>"$T/err"
status=$?
check "no viewer anywhere: exit status 1 (got $status)" [ "$status" -eq 1 ]
check "no viewer anywhere: says so (got '$(cat "$T/err")')" \
    grep -qx "mvx: view: cannot find the viewer: no morvath beside $T/lonely/mvx nor on the PATH" "$T/err"

# SIGINT and SIGTERM to mvx view reach the viewer, whose own exit status then comes back. (A job
# that the shell starts in the background ignores SIGINT, and mvx view leaves an ignored signal
# ignored: env gives it back its default.)
for sig in INT TERM; do
    rm -f "$REPORT"/*
    (cd "$T/here" && END=trap exec env --default-signal=INT "$T/fake/mvx" view "$map") &
    pid=$!
    for _ in $(seq 100); do [ -s "$REPORT/cwd" ] && break; sleep 0.05; done
    kill -"$sig" "$pid"
    wait "$pid"
    status=$?
    check "SIG$sig passed on: the viewer got it (got '$(cat "$REPORT/signal" 2>/dev/null)')" [ -s "$REPORT/signal" ]
    check "SIG$sig passed on: the viewer's status 3 (got $status)" [ "$status" -eq 3 ]
    nothing_left "SIG$sig passed on"
done
# Ignored by mvx view's caller, SIGINT is ignored by the viewer too: it keeps going until SIGTERM.
rm -f "$REPORT"/*
(cd "$T/here" && trap '' INT && END=trap exec "$T/fake/mvx" view "$map") &
pid=$!
for _ in $(seq 100); do [ -s "$REPORT/cwd" ] && break; sleep 0.05; done
kill -INT "$pid"
sleep 0.3
check "SIGINT ignored by the caller: the viewer goes on" [ ! -e "$REPORT/signal" ]
kill -TERM "$pid"
wait "$pid"
status=$?
check "SIGINT ignored by the caller: SIGTERM still passed on (status $status)" [ "$status" -eq 3 ]
nothing_left "SIGINT ignored by the caller"

# The real viewer under Xvfb, from another directory: the map's first frame, then q.
start_xvfb || exit 1
start_viewer "$T/here" "$T/view.log" "$MVX" view "$map" || exit 1
settle || exit 1
pts=() want=()
for i in 3 77 146; do
    for j in 5 140; do
        pts+=("$((4 * i + 2)),$((4 * j + 2))")
        want+=("$(cell_rgb $((1294 + i)) $((1552 + j)))")
    done
done
mapfile -t got < <("$SHOT" -w "$WIN" "${pts[@]}")
for k in "${!pts[@]}"; do
    check "the map's first frame: pixel ${pts[$k]} shows its cell (want ${want[$k]}, got ${got[$k]:-none})" \
        near "${want[$k]}" "${got[$k]:-}"
done
xdotool key --window "$WIN" q 2>/dev/null
wait "$VIEWER_PID"
status=$?
VIEWER_PID=
check "q: mvx view exits 0 (got $status)" [ "$status" -eq 0 ]
check "q: nothing on standard error (got '$(cat "$T/view.log")')" [ ! -s "$T/view.log" ]
nothing_left "the viewer quit with q"

# SIGTERM to mvx view ends the real viewer too, by that signal, and the directory still goes.
start_viewer "$T/here" "$T/view.log" "$MVX" view "$map" || exit 1
settle || exit 1
kill -TERM "$VIEWER_PID"
wait "$VIEWER_PID"
status=$?
VIEWER_PID=
check "SIGTERM: mvx view exits 143, the viewer's death by SIGTERM (got $status)" [ "$status" -eq 143 ]
check "SIGTERM: no Morvath window left" [ -z "$(xdotool search --name '^Morvath$' 2>/dev/null)" ]
nothing_left "the viewer ended by SIGTERM"

finish
