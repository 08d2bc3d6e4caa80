#!/bin/sh
# One quiet step of make run: says what it does, keeps the command's output in LOG, shows it only on failure.
# usage: step.sh LOG WHAT COMMAND [ARG...]
set -u
log=$1 what=$2
shift 2
echo "$what"
mkdir -p "$(dirname "$log")" || exit 1
if ! "$@" >"$log" 2>&1; then
    cat "$log" >&2
    echo "failed: $what (the output above is in $log)" >&2
    exit 1
fi
