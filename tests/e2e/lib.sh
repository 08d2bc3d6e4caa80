# End-to-end test helpers: a scratch directory, the X server and viewer, checks that report and fail.
set -u
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
. "$here/../../scripts/xvfb.sh"

T=$(mktemp -d)
failures=0
trap 'stop_all; rm -rf "$T"' EXIT

fail() {
    echo "FAIL: $*" >&2
    failures=$((failures + 1))
}
pass() { echo "ok: $*"; }

# check DESCRIPTION COMMAND...: runs the command, counts a failure if it fails.
check() {
    local what=$1
    shift
    if "$@"; then pass "$what"; else fail "$what"; fi
}

finish() {
    if [ "$failures" -gt 0 ]; then
        echo "$failures check(s) failed" >&2
        exit 1
    fi
    echo "all checks passed"
}

# near R G B "r g b": each channel within 4 (the rasteriser may round a blend).
near() {
    local want=($1) got=($2) i
    for i in 0 1 2; do
        local d=$((want[i] - got[i]))
        [ "${d#-}" -le 4 ] || return 1
    done
}

# Sends keys to the viewer, then a key with no command, and waits for its diagnostic: once it is
# there every earlier event has been handled. Then waits for the picture to settle.
catches=0
sync_viewer() {
    catches=$((catches + 1))
    xdotool key --window "$WIN" space 2>/dev/null
    for _ in $(seq 100); do
        [ "$(grep -c '^Catch! 32$' "$VIEWER_LOG")" -ge "$catches" ] && { settle any; return; }
        sleep 0.05
    done
    echo "the viewer did not answer" >&2
    return 1
}

press() {
    xdotool key --window "$WIN" "$@" 2>/dev/null
    sync_viewer
}

# The colour the test map has at grid cell (x, y), as the viewer shows it.
cell_rgb() { echo "$(($1 / 8 % 32 * 8)) $(($2 / 8 % 32 * 8)) $((($1 / 256 + $2 / 256) % 32 * 8))"; }

pixel() { "$SHOT" -w "$WIN" "$1"; }
