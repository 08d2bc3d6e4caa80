# Shared by the headless run and the end-to-end tests: a private X server and the viewer in it.
# Source it; it needs SHOT (the shot tool) and MORVATH (the viewer) in the environment.

XVFB_PID=
VIEWER_PID=
VIEWER_LOG=
XVFB_LOG=
WIN=

# wait_file FILE PID TRIES DELAY: waits until FILE has something in it, while process PID lives;
# fails if it never does.
wait_file() {
    for _ in $(seq "$3"); do
        [ -s "$1" ] && return 0
        kill -0 "$2" 2>/dev/null || break
        sleep "$4"
    done
    [ -s "$1" ]
}

# Starts Xvfb on a free display and exports DISPLAY once a client has been answered on it by a
# server with our screen; a server that dies or answers otherwise is replaced, up to three times.
# Its own messages go to XVFB_LOG, shown when it fails and by start_viewer. -noreset: by default
# the server resets whenever its last client leaves, as a probe like xdotool search does while the
# viewer is still connecting.
start_xvfb() {
    local f try dir=${T:-${TMPDIR:-/tmp}}  # the caller's scratch directory when it has one
    f=$(mktemp "$dir/xvfb-display.XXXXXX")
    XVFB_LOG=$(mktemp "$dir/xvfb-log.XXXXXX")
    for try in 1 2 3; do
        : >"$f"
        Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp -noreset 3>"$f" >>"$XVFB_LOG" 2>&1 &
        XVFB_PID=$!
        if wait_file "$f" "$XVFB_PID" 100 0.05; then
            export DISPLAY=":$(head -n1 "$f")"
            [ "$(xdotool getdisplaygeometry 2>>"$XVFB_LOG")" = "1024 768" ] && { rm -f "$f"; return 0; }
            echo "try $try: display $DISPLAY did not answer as ours" >>"$XVFB_LOG"
        fi
        kill "$XVFB_PID" 2>/dev/null || true
        wait "$XVFB_PID" 2>/dev/null || true
        XVFB_PID=
    done
    rm -f "$f"
    echo "Xvfb did not start:" >&2
    cat "$XVFB_LOG" >&2
    return 1
}

# Starts the viewer in directory $1 with its standard error in file $2 (default $1/stderr), and
# finds its window. A command after them starts the viewer instead of $MORVATH (mvx view MAP).
start_viewer() {
    local dir=$1
    VIEWER_LOG=${2:-$dir/stderr}
    shift $(($# < 2 ? $# : 2))
    [ $# -gt 0 ] || set -- "$MORVATH"
    (cd "$dir" && exec "$@") 2>"$VIEWER_LOG" &
    VIEWER_PID=$!
    WIN=
    # Up to 20 s, but no longer than the viewer lives: one that stops at once has said why. Only a
    # mapped window: the server answers a picture of one not yet mapped with BadMatch.
    for _ in $(seq 200); do
        WIN=$(xdotool search --onlyvisible --name '^Morvath$' 2>/dev/null | head -n1)
        [ -n "$WIN" ] || ! kill -0 "$VIEWER_PID" 2>/dev/null && break
        sleep 0.1
    done
    if [ -z "$WIN" ]; then
        kill -0 "$VIEWER_PID" 2>/dev/null && echo "no Morvath window appeared" >&2 ||
            echo "the viewer stopped before its window appeared" >&2
        cat "$VIEWER_LOG" >&2
        if [ -n "$XVFB_PID" ]; then
            kill -0 "$XVFB_PID" 2>/dev/null && echo "Xvfb on $DISPLAY is running" >&2 ||
                echo "Xvfb on $DISPLAY has stopped" >&2
            cat "$XVFB_LOG" >&2
        fi
        return 1
    fi
}

# Waits until two screenshots in a row agree, so the latest frame is on screen; unless $1 is
# "any", also until something is drawn, since the window starts black.
settle() {
    local a b
    a=$("$SHOT" -w "$WIN" --sum) || return 1
    for _ in $(seq 100); do
        sleep 0.1
        b=$("$SHOT" -w "$WIN" --sum) || return 1
        [ "$a" = "$b" ] && { [ "${1:-}" = any ] || [ "$(non_black)" -gt 0 ]; } && return 0
        a=$b
    done
    echo "the window never settled" >&2
    return 1
}

# Number of sampled pixels on a 20-pixel grid that are not black.
non_black() {
    local pts=() x y
    for y in $(seq 10 20 590); do for x in $(seq 10 20 590); do pts+=("$x,$y"); done; done
    "$SHOT" -w "$WIN" "${pts[@]}" | grep -cv '^0 0 0$' || true
}

# The first look at the relief that the README gives: a left drag 60 pixels up tilts the view 60
# degrees, then a right drag 40 pixels down brings it nearer (5/3 the size). The caller waits for it
# to be drawn (sync_viewer in tests/e2e/lib.sh).
tilt_view() {
    xdotool mousemove --window "$WIN" 300 380 mousedown 1 mousemove --window "$WIN" 300 350 \
        mousemove --window "$WIN" 300 320 mouseup 1 mousemove --window "$WIN" 300 280 mousedown 3 \
        mousemove --window "$WIN" 300 300 mousemove --window "$WIN" 300 320 mouseup 3 2>/dev/null
}

# Stops what start_viewer and start_xvfb started; safe under set -e and when they have ended.
stop_all() {
    if [ -n "$VIEWER_PID" ]; then kill "$VIEWER_PID" 2>/dev/null || true; wait "$VIEWER_PID" 2>/dev/null || true; fi
    if [ -n "$XVFB_PID" ]; then kill "$XVFB_PID" 2>/dev/null || true; wait "$XVFB_PID" 2>/dev/null || true; fi
    VIEWER_PID= XVFB_PID=
    if [ -n "$XVFB_LOG" ]; then rm -f "$XVFB_LOG"; XVFB_LOG=; fi
}
