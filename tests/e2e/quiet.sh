#!/usr/bin/env bash
# -q and --quiet: generate, import and export print nothing when they succeed, and still say why when they fail.
. "$(dirname "$0")/lib.sh"

mkdir "$T/out"
# The map the others read, made without -q: generate says what it wrote (a generate is slow
# under the sanitizers, so the table below runs it quiet only).
"$MVX" generate -o "$T/g.mvx" >"$T/stdout" 2>"$T/stderr" || exit 1
check "generate (not quiet): a summary on standard error" grep -q '^mvx: .*wrote' "$T/stderr"
check "generate (not quiet): nothing on standard output" [ ! -s "$T/stdout" ]
"$MVX" export -q "$T/g.mvx" --heights --scale 16 -o "$T/h.png" || exit 1

# Each command as it succeeds: it writes FILE, and without -q says so.
while IFS='|' read -r name out args; do
    for q in "" -q --quiet; do
        # generate, slow under the sanitizers, once: -q (--quiet's parsing is in the unit tests).
        [ "$name" = generate ] && [ "$q" != -q ] && continue
        rm -f "$T/out"/*
        eval "\"\$MVX\" $args $q" >"$T/stdout" 2>"$T/stderr"
        status=$?
        check "$name ${q:-(not quiet)}: exit status 0 (got $status)" [ "$status" -eq 0 ]
        check "$name ${q:-(not quiet)}: wrote $out" [ -s "$T/out/$out" ]
        check "$name ${q:-(not quiet)}: nothing on standard output (got '$(head -c 200 "$T/stdout")')" [ ! -s "$T/stdout" ]
        if [ -n "$q" ]; then
            check "$name $q: nothing on standard error (got '$(head -c 200 "$T/stderr")')" [ ! -s "$T/stderr" ]
        else
            check "$name: a summary on standard error" grep -q '^mvx: .*wrote' "$T/stderr"
        fi
    done
done <<'CASES'
generate|g.mvx|generate -o "$T/out/g.mvx" --seed 7
import|i.mvx|import "$T/h.png" -o "$T/out/i.mvx"
export png|e.png|export "$T/g.mvx" -o "$T/out/e.png" --scale 32
export tif|e.tif|export "$T/g.mvx" --heights -o "$T/out/e.tif" --scale 32
CASES

# Failures still say why, in one line.
while IFS='|' read -r name args; do
    eval "\"\$MVX\" $args" >"$T/stdout" 2>"$T/stderr"
    status=$?
    check "$name: exit status 1 (got $status)" [ "$status" -eq 1 ]
    check "$name: one line on standard error, naming the file (got '$(cat "$T/stderr")')" \
        [ "$(wc -l <"$T/stderr")" -eq 1 -a "$(grep -c "$T/none" "$T/stderr")" -eq 1 ]
done <<'CASES'
generate -q|generate -q -o "$T/none/g.mvx"
import --quiet|import --quiet "$T/none.tif" -o "$T/out/x.mvx"
export -q|export -q "$T/none.mvx" -o "$T/out/x.png"
CASES

finish
