#!/usr/bin/env bash
# The manual pages and mvx's bash completion as installed: groff finds nothing to warn about, and both name every command and option mvx help lists.
. "$(dirname "$0")/lib.sh"

dist=$(dirname "$MVX")/dist
repo=$here/../..

# The options a command's help lists: the dashed words that open its indented lines ("-q, --quiet").
options_of() {
    "$MVX" help "$1" | grep -E '^  -' | sed -E 's/^  //; s/ [^-].*$//; s/ +$//' | tr ',' '\n' | tr -d ' '
}
commands=$("$MVX" help | sed -n '/^commands:/,/^$/s/^  \([a-z]*\) .*/\1/p')
check "mvx help lists commands (got '$(echo $commands)')" [ -n "$commands" ]

# --- the manual pages ---
for page in morvath mvx; do
    zcat "$dist/$page.1.gz" >"$T/$page.1" || fail "$page.1.gz: not gzip"
    groff -man -ww -z "$T/$page.1" 2>"$T/warnings"
    check "$page(1): groff -man -ww reports nothing (got '$(head -c 300 "$T/warnings")')" [ ! -s "$T/warnings" ]
    groff -man -Tascii -P-cbou "$T/$page.1" 2>/dev/null >"$T/$page.txt"
    check "$page(1): renders" [ -s "$T/$page.txt" ]
done

# Each command's section ("   mvx NAME") names each of its options as an item (a line of its own).
section() { awk -v h="   mvx $1" '$0 == h { on = 1; next } on && /^([^ ]|   [^ ])/ { exit } on' "$T/mvx.txt"; }
for c in $commands; do
    section "$c" >"$T/section"
    check "mvx(1): a section for mvx $c" [ -s "$T/section" ]
    for o in $(options_of "$c"); do
        check "mvx(1): mvx $c's $o is an item" grep -qE -- "^       (-[^ ]+, )?$o( |,|$)" "$T/section"
    done
    check "mvx(1): mvx $c in the synopsis" grep -qE "^       mvx $c( |$)" "$T/mvx.txt"
done
version=$("$MVX" --version | cut -d' ' -f2)
for page in morvath mvx; do
    check "$page(1): the version, $version" grep -q "^morvath $version  " "$T/$page.txt"
done

# morvath(1) names each key and gesture of the README's controls table as an item of CONTROLS.
awk '/^CONTROLS/ { on = 1; next } /^[A-Z]/ { on = 0 } on && /^       [^ ]/' "$T/morvath.txt" >"$T/controls"
sed -n '/^## Controls/,/^## /p' "$repo/README.md" | grep '^| ' | tail -n +2 | cut -d'|' -f2 >"$T/readme_keys"
check "README: a controls table (got $(wc -l <"$T/readme_keys") rows)" [ "$(wc -l <"$T/readme_keys")" -ge 9 ]
while read -r row; do
    case $row in
    *drag*) check "morvath(1): $row in CONTROLS" grep -qx "       $row" "$T/controls" ;;
    *)  # Keys in backquotes, and the words outside them ("Escape").
        for k in $(grep -o '`[^`]*`' <<<"$row" | tr -d '`') $(sed 's/`[^`]*`//g; s/[,\/]/ /g' <<<"$row"); do
            check "morvath(1): key $k in CONTROLS" grep -qE "^       (.*[ ,])?$k(,| |$)" "$T/controls"
        done ;;
    esac
done <"$T/readme_keys"

# --- bash completion: the function driven as bash would, from a directory of files ---
. "$dist/bash-completion/mvx"
check "completion: registered for mvx" bash -c '. "$1" && complete -p mvx >/dev/null' _ "$dist/bash-completion/mvx"
mkdir "$T/files" "$T/files/sub"
: >"$T/files/a.mvx"
: >"$T/files/c d.mvx"
: >"$T/files/b.tif"
cd "$T/files" || exit 1
# completions WORD...: what Tab offers after those words (the last the one being typed), sorted, '|' between.
completions() {
    COMP_WORDS=("$@")
    COMP_CWORD=$(($# - 1))
    COMPREPLY=()
    _mvx 2>/dev/null
    printf '%s\n' "${COMPREPLY[@]}" | sort | paste -sd'|'
}
all_commands=$(printf '%s\n' $commands help --help --version | sort | paste -sd'|')
maps='a.mvx|c d.mvx|sub'
files='a.mvx|b.tif|c d.mvx|sub'
while IFS=';' read -r words want; do
    eval "set -- $words"
    got=$(completions "$@")
    check "completion: '$words' offers '$want' (got '$got')" [ "$got" = "$want" ]
done <<EOF
mvx '';$all_commands
mvx im;import
mvx help '';$(printf '%s\n' $commands | sort | paste -sd'|')
mvx help info '';
mvx info '';$maps
mvx info --json '';$maps
mvx view '';$maps
mvx export '';$maps
mvx export a.mvx -o '';$files
mvx import '';$files
mvx import x.tif -o '';$files
mvx import x.tif --colour '';$files
mvx import x.tif --fit '';crop|pad|stretch
mvx import x.tif --resample c;cubic
mvx import x.tif --size '';
mvx generate -o '';$files
mvx generate --seed '';
mvx info c;c d.mvx
mvx info s;sub
EOF
# Every option that help lists, offered after a dash.
for c in $commands; do
    offered="|$(completions mvx "$c" -)|"
    for o in $(options_of "$c"); do
        check "completion: mvx $c - offers $o" [ "${offered#*|$o|}" != "$offered" ]
    done
done

finish
