#!/usr/bin/env bash
# Faults around the files: maps the viewer cannot use, and mvx writing where it cannot finish.
. "$(dirname "$0")/lib.sh"
chmod 755 "$T"

# The viewer on files that are not maps stops before the display, with one line and status 1.
expect_refusal() {  # DIR CAUSE [COMMAND PREFIX...]
    local dir=$1 cause=$2 status
    shift 2
    ( cd "$dir" && DISPLAY=:none exec timeout 10 "$@" "$MORVATH" ) 2>"$dir/stderr"
    status=$?
    check "$cause: exit status 1 (got $status)" [ "$status" -eq 1 ]
    check "$cause: says so" grep -q "^morvath: datas.mvx: .*$cause" "$dir/stderr"
}
mkdir "$T/fifo" "$T/dev" "$T/perm" "$T/proc"
mkfifo "$T/fifo/datas.mvx"
expect_refusal "$T/fifo" "a FIFO"
ln -s /dev/zero "$T/dev/datas.mvx"
expect_refusal "$T/dev" "a character device"
ln -s /proc/self/environ "$T/proc/datas.mvx"
expect_refusal "$T/proc" "it is under /proc, not a map file"
echo x >"$T/perm/datas.mvx"
chmod 000 "$T/perm/datas.mvx"
chmod 777 "$T/perm"
if [ "$(id -u)" = 0 ]; then
    expect_refusal "$T/perm" "Permission denied" setpriv --reuid=nobody --regid=nogroup --clear-groups
else
    expect_refusal "$T/perm" "Permission denied"
fi

# A short map: a warning, then the view with the missing rows black.
mkdir "$T/short"
"$TESTMAP" "$T/short/datas.mvx" || exit 1
truncate -s $((1600 * 18432)) "$T/short/datas.mvx"
start_xvfb || exit 1
start_viewer "$T/short" || exit 1
settle || exit 1
check "short map: one warning with the bytes read and expected" \
    grep -qx "morvath: warning: datas.mvx: short map: $((1600 * 18432)) of 75497472 bytes read; the rest shows black at height 0" "$T/short/stderr"
check "short map: rows it has are drawn" near "$(cell_rgb 1297 1557)" "$(pixel 14,22)"
check "short map: rows it lacks are black" [ "$(pixel 14,400)" = "0 0 0" ]
stop_all

# mvx replacing a map and failing part-way: the old map and its sidecar stay byte for byte, no
# temporary is left. The writer is an import of a small height image (quicker than generate under
# the sanitizers, and writing a pair the same way); the new pair a finished run writes, to tell it
# from the old.
old="$T/old.mvx"
head -c 75497472 /dev/urandom >"$old"
"$MVX" generate -q -o "$T/world.mvx" && "$MVX" export -q "$T/world.mvx" --heights --scale 64 -o "$T/small.png" || exit 1
write_map() { "$MVX" import "$T/small.png" -o "$@"; }
write_map "$T/new.mvx" 2>/dev/null || exit 1
sed 's/"mvx import"/"an older mvx import"/' "$T/new.mvx.json" >"$T/old.mvx.json"
old_pair() {  # DIR: the old map and sidecar there
    mkdir -p "$1"
    cp "$old" "$1/datas.mvx"
    cp "$T/old.mvx.json" "$1/datas.mvx.json"
}
no_temporary() { [ -z "$(find "$1" -name '*.tmp.*')" ]; }
old_kept() { cmp -s "$old" "$1/datas.mvx" && cmp -s "$T/old.mvx.json" "$1/datas.mvx.json"; }
same_as_old() { old_kept "$1" && no_temporary "$1"; }
same_as_new() { cmp -s "$T/new.mvx" "$1/datas.mvx" && cmp -s "$T/new.mvx.json" "$1/datas.mvx.json" && no_temporary "$1"; }
expect_failure() {  # DIR WHAT STATUS STDERR
    check "$2: mvx exits 1 (got $3)" [ "$3" -eq 1 ]
    check "$2: one message naming the file" grep -q "^mvx: $1/datas.mvx: " "$4"
    check "$2: the old map and sidecar are intact and nothing is left behind" same_as_old "$1"
}

# Over the file size limit, SIGXFSZ ignored: a write fails (the signal itself is in the unit tests).
old_pair "$T/big"
( ulimit -f 1000; trap '' XFSZ; exec "$MVX" import "$T/small.png" -o "$T/big/datas.mvx" ) 2>"$T/big/err"
expect_failure "$T/big" "file size limit" $? "$T/big/err"

mkdir "$T/full"
if mount -t tmpfs -o size=100m tmpfs "$T/full" 2>/dev/null; then
    old_pair "$T/full"
    write_map "$T/full/datas.mvx" 2>"$T/full.err"
    expect_failure "$T/full" "full file system" $? "$T/full.err"
    umount "$T/full"
else
    echo "skip: cannot mount a small tmpfs here to fill"
fi

old_pair "$T/ro"
chmod 555 "$T/ro"
if [ "$(id -u)" = 0 ]; then
    setpriv --reuid=nobody --regid=nogroup --clear-groups "$MVX" import "$T/small.png" -o "$T/ro/datas.mvx" 2>"$T/ro.err"
else
    write_map "$T/ro/datas.mvx" 2>"$T/ro.err"
fi
expect_failure "$T/ro" "read-only directory" $? "$T/ro.err"

# Stopped while writing (once the temporary is there, and at moments after it, up to the renames
# and beyond): the pair is the old one or the new one, never half of each, and no temporary is
# left. A background job starts with SIGINT and SIGQUIT ignored; mvx keeps what it is given, so
# they are given back. SIGHUP and SIGQUIT are in the unit tests.
stop_mvx() {  # SIG DELAY DIR: stops a write into DIR, DELAY seconds after its temporary appears
    local pid
    env --default-signal=INT,QUIT "$MVX" import "$T/small.png" -o "$3/datas.mvx" 2>"$3.err" &
    pid=$!
    for _ in $(seq 2000); do
        [ -n "$(find "$3" -name '*.tmp.*' -size +1k)" ] && break
        sleep 0.01
    done
    sleep "$2"
    kill -s "$1" "$pid" 2>/dev/null
    wait "$pid" 2>/dev/null
}
for sig in TERM INT KILL; do
    old_pair "$T/kill$sig"
    stop_mvx "$sig" 0 "$T/kill$sig"
    check "SIG$sig mid-write: the old map and sidecar are byte-identical" old_kept "$T/kill$sig"
    if [ "$sig" != KILL ]; then
        check "SIG$sig mid-write: the temporary file is removed" no_temporary "$T/kill$sig"
        check "SIG$sig mid-write: one line says so" \
            [ "$(cat "$T/kill$sig.err")" = "mvx: $T/kill$sig/datas.mvx: stopped by SIG$sig; left as it was" ]
    fi
done
check "SIGKILL mid-write: the temporary is left" [ -n "$(find "$T/killKILL" -name '*.tmp.*')" ]
chmod 600 "$T/killKILL/datas.mvx"
write_map "$T/killKILL/datas.mvx" 2>/dev/null
check "SIGKILL mid-write: the next run removes it" same_as_new "$T/killKILL"
check "the next run: the map it replaced was 600, so is the new one" [ "$(stat -c %a "$T/killKILL/datas.mvx")" = 600 ]
for delay in 0.08 0.12; do
    old_pair "$T/int$delay"
    stop_mvx INT "$delay" "$T/int$delay"
    check "SIGINT $delay s into the write: the old pair or the new one, nothing left" \
        eval 'same_as_old "$T/int$delay" || same_as_new "$T/int$delay"'
done

finish
