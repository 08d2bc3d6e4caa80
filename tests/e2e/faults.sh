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
mkdir "$T/fifo" "$T/dev" "$T/perm"
mkfifo "$T/fifo/datas.mvx"
expect_refusal "$T/fifo" "a FIFO"
ln -s /dev/zero "$T/dev/datas.mvx"
expect_refusal "$T/dev" "a character device"
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

# mvx replacing a map and failing part-way: the old map stays byte for byte, no temporary is left.
old="$T/old.mvx"
head -c 75497472 /dev/urandom >"$old"
same_as_old() { cmp -s "$old" "$1/datas.mvx" && [ -z "$(find "$1" -name '*.tmp.*')" ]; }
expect_failure() {  # DIR WHAT STATUS STDERR
    check "$2: mvx exits 1 (got $3)" [ "$3" -eq 1 ]
    check "$2: one message naming the file" grep -q "^mvx: $1/datas.mvx: " "$4"
    check "$2: the old map is intact and nothing is left behind" same_as_old "$1"
}

mkdir "$T/big"
cp "$old" "$T/big/datas.mvx"
( ulimit -f 1000; trap '' XFSZ; exec "$MVX" generate -o "$T/big/datas.mvx" ) 2>"$T/big/err"
expect_failure "$T/big" "file size limit" $? "$T/big/err"

mkdir "$T/full"
if mount -t tmpfs -o size=100m tmpfs "$T/full" 2>/dev/null; then
    cp "$old" "$T/full/datas.mvx"
    "$MVX" generate -o "$T/full/datas.mvx" 2>"$T/full.err"
    expect_failure "$T/full" "full file system" $? "$T/full.err"
    umount "$T/full"
else
    echo "skip: cannot mount a small tmpfs here to fill"
fi

mkdir "$T/ro"
cp "$old" "$T/ro/datas.mvx"
chmod 555 "$T/ro"
if [ "$(id -u)" = 0 ]; then
    setpriv --reuid=nobody --regid=nogroup --clear-groups "$MVX" generate -o "$T/ro/datas.mvx" 2>"$T/ro.err"
else
    "$MVX" generate -o "$T/ro/datas.mvx" 2>"$T/ro.err"
fi
expect_failure "$T/ro" "read-only directory" $? "$T/ro.err"

# Killed while writing: wait for the temporary file, then stop mvx.
for sig in TERM INT KILL; do
    mkdir "$T/kill$sig"
    cp "$old" "$T/kill$sig/datas.mvx"
    "$MVX" generate -o "$T/kill$sig/datas.mvx" 2>/dev/null &
    pid=$!
    for _ in $(seq 2000); do
        [ -n "$(find "$T/kill$sig" -name '*.tmp.*' -size +1k)" ] && break
        sleep 0.01
    done
    kill -s "$sig" "$pid"
    wait "$pid"
    check "SIG$sig mid-write: the old map is byte-identical" cmp -s "$old" "$T/kill$sig/datas.mvx"
    if [ "$sig" != KILL ]; then
        check "SIG$sig mid-write: the temporary file is removed" [ -z "$(find "$T/kill$sig" -name '*.tmp.*')" ]
    fi
done

finish
