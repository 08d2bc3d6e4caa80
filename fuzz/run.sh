#!/bin/bash
# Runs every reader's fuzz target for SECONDS, two at a time, from its seeds and the inputs kept in
# CORPUS (grown as coverage grows); fails on any crash, failed check, leak, timeout, memory blow-up
# or sanitizer report, keeping the input that caused it in BUILD/crashes.
# SEED fixes libFuzzer's choices, so that a run is repeated as it was (make test); without it each
# run explores anew (make fuzz).
# Usage: fuzz/run.sh BUILD SECONDS CORPUS [SEED]
set -euo pipefail
[ $# -eq 3 ] || [ $# -eq 4 ] || { echo "usage: $0 BUILD SECONDS CORPUS [SEED]" >&2; exit 2; }
build=$1 seconds=$2 corpus=$3 seed=()
[ $# -eq 4 ] && seed=(-seed="$4")
targets=(gdal r16)

rm -rf "$build/seeds" "$build/logs"
"$build/fuzz_seeds" "$build/seeds"
mkdir -p "$build/crashes" "$build/logs"

run_one() {
    local t=$1 rc=0 size=()
    mkdir -p "$corpus/$t"
    # -timeout: seconds one input may take. Under the targets' sample cap no read needs more than
    # about 64 MB at once (an SRTM tile padded to its size is 3 MB), so a larger allocation is a finding.
    # -detect_leaks=0: GDAL keeps caches from one input to the next, so libFuzzer would run the leak
    # checker after nearly every input and do little else; leaks are checked by the sanitizer tests.
    UBSAN_OPTIONS=print_stacktrace=1 "$build/fuzz_$t" -max_total_time="$seconds" -timeout=10 -detect_leaks=0 \
        -rss_limit_mb=2048 -malloc_limit_mb=256 "${size[@]}" "${seed[@]}" \
        -print_final_stats=1 -artifact_prefix="$build/crashes/$t-" "$corpus/$t" "$build/seeds/$t" \
        >"$build/logs/$t.log" 2>&1 || rc=$?
    echo "$rc" >"$build/logs/$t.rc"
}

for t in "${targets[@]}"; do
    while [ "$(jobs -rp | wc -l)" -ge 2 ]; do wait -n || true; done
    run_one "$t" &
done
wait

failed=0
printf '%-6s %10s %8s %8s  %s\n' target runs exec/s corpus result
for t in "${targets[@]}"; do
    log=$build/logs/$t.log rc=$(cat "$build/logs/$t.rc")
    final_stat() { sed -n "s/^stat::$1: *//p" "$log" | tail -1; }
    result=ok
    [ "$rc" -eq 0 ] || { result="FAILED (exit $rc), log: $log"; failed=1; }
    printf '%-6s %10s %8s %8s  %s\n' "$t" "$(final_stat number_of_executed_units)" "$(final_stat average_exec_per_sec)" \
        "$(find "$corpus/$t" -type f | wc -l)" "$result"
done
if [ "$failed" -ne 0 ]; then
    for t in "${targets[@]}"; do
        [ "$(cat "$build/logs/$t.rc")" -eq 0 ] && continue
        echo "== fuzz_$t =="
        grep -v '^#' "$build/logs/$t.log" | tail -60
    done
    echo "Inputs that failed are in $build/crashes; rerun one with $build/fuzz_TARGET FILE, fix the reader," >&2
    echo "and add the input to the FuzzFindings table in tests/unit/import/import_test.cpp." >&2
    exit 1
fi
