#!/usr/bin/env bash
# mvx info --json on a generated map: jq reads it, and it says what the text says; file names of any bytes still give valid JSON.
. "$(dirname "$0")/lib.sh"

# jq -e: fails when the expression is false or null.
jqtrue() { jq -e "$@" >/dev/null; }

"$MVX" generate -q -o "$T/g.mvx" || exit 1
"$MVX" info "$T/g.mvx" >"$T/text" || fail "mvx info"
"$MVX" info --json "$T/g.mvx" >"$T/json" || fail "mvx info --json"
check "jq reads it as one object" jqtrue 'type == "object"' "$T/json"

# The text's lines as the JSON's facts give them: shares as "12.3%", the rest as they stand.
jq -r '
  "\(.map): BYTES \(.bytes), " + (if .complete then "complete (6144 x 4096 cells)" else "incomplete" end),
  "heights: \(.heights.min) to \(.heights.max)",
  "SHARE levels below 0: \(.water.share)",
  "SHARE voids: \(.voids.share)",
  "source: \(.sidecar.sources | join(", ")) (\(.sidecar.written_by))" + (if .sidecar.crs then ", \(.sidecar.crs)" else "" end),
  "data: columns \(.sidecar.box.x0) to \(.sidecar.box.x0 + .sidecar.box.width - 1), rows \(.sidecar.box.y0) to \(.sidecar.box.y0 + .sidecar.box.height - 1)",
  "scale: \(.sidecar.metres_per_cell.across) m per cell across, \(.sidecar.metres_per_cell.down) m down; \(.sidecar.per_level.above_0) m per level; the viewer shows the relief \(.sidecar.exaggeration) times exaggerated" + (if .sidecar.nominal then " (nominal: the world is no real place)" else "" end),
  "SHARE sea (at or below \(.sidecar.sea_level) m): \(.sidecar.sea.share)",
  "colour bit 15: " + (if .bit15.cells == 0 then "unused" else "set in \(.bit15.cells) cells (voids; the viewer ignores it)" end),
  (.histogram[] | "BIN \(.from) \(.to) \(.share)")
' "$T/json" | awk '
  /^SHARE / { sub(/^SHARE /, ""); s = $NF; $NF = ""; printf "%s%.1f%% of cells\n", $0, 100 * s; next }
  /^BIN / { printf "  %4d to %4d %6s\n", $2, $3, sprintf("%.1f%%", 100 * $4); next }
  { print }' >"$T/from_json"
sed -E 's/#+$//; s/ $//' "$T/text" | sed -E ':a; s/^([^:]*: [0-9]*),([0-9])/\1\2/; ta; s/^([^:]*): ([0-9]+) bytes/\1: BYTES \2/' >"$T/text_plain"
while IFS= read -r line; do
    check "the text says: $line" grep -qxF -- "${line% }" "$T/text_plain"
done <"$T/from_json"
check "the JSON gives $(wc -l <"$T/from_json") of the text's lines" [ "$(wc -l <"$T/from_json")" -ge 24 ]
check "no sidecar error" jqtrue '.sidecar_error == null' "$T/json"

# An incomplete map whose name holds a quote, a backslash, a control character and a byte that is
# not UTF-8: the JSON is printed and valid, the failure line follows on standard error.
odd=$T/$'we"ird\\\x01\xff.mvx'
head -c 30000 "$T/g.mvx" >"$odd"
"$MVX" info --json "$odd" >"$T/odd.json" 2>"$T/odd.err"
status=$?
check "incomplete: exit status 1 (got $status)" [ "$status" -eq 1 ]
check "incomplete: jq reads it" jqtrue '.complete == false and .cells == 10000 and .bytes == 30000' "$T/odd.json"
check "incomplete: one line on standard error" [ "$(wc -l <"$T/odd.err")" -eq 1 ]
want=$T/$'we"ird\\\x01\xef\xbf\xbd.mvx'
check "the name comes back with U+FFFD for the stray byte" [ "$(jq -j .map "$T/odd.json")" = "$want" ]

finish
