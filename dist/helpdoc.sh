#!/bin/sh
# Writes mvx's manual page or its bash completion from its own help texts, so that neither can drift from them.
# usage: helpdoc.sh man OUT MVX TEMPLATE VERSION
#        helpdoc.sh completion OUT MVX
#
# The help texts follow one layout, which this reads: a "usage:" block (entries start with "mvx",
# deeper lines continue them), paragraphs at the margin, and lists indented by two spaces, each
# item a tag (an option with its value, a command, a key) then two or more spaces and its
# description, deeper lines continuing it. An option's value names what it takes: FILE, IMAGE
# or HEIGHTS a file, MAP a map (.mvx); "--opt a|b|c" in the usage gives its choices.
set -eu
mode=$1 out=$2 mvx=$3
case $mode in
man) template=$4 version=$5 ;;
completion) template=/dev/null version= ;;
*) echo "helpdoc.sh: unknown mode '$mode'" >&2; exit 1 ;;
esac

help=$("$mvx" help)
commands=$(printf '%s\n' "$help" | awk '/^commands:/ { on = 1; next } on && /^  [a-z]/ { print $1; next } on { exit }')
[ -n "$commands" ] || { echo "helpdoc.sh: no commands in '$mvx help'" >&2; exit 1; }

{
    printf '\001 mvx\n%s\n' "$help"
    for c in $commands; do
        printf '\001 %s\n' "$c"
        "$mvx" help "$c"
    done
} | awk -v mode="$mode" -v version="$version" -v template="$template" '
function esc(s) {
    gsub(/\\/, "\\\\e", s)
    gsub(/-/, "\\-", s)
    if (s ~ /^[.\047]/) s = "\\&" s
    return s
}
function trim(s) { sub(/^ +/, "", s); sub(/ +$/, "", s); return s }
# An option tag ("-o FILE", "-q, --quiet") with options in bold and values in italics; any other tag in bold.
function tag_roff(t,   n, w, i, r, opt) {
    n = split(t, w, " ")
    opt = t ~ /^-/
    r = ""
    for (i = 1; i <= n; i++) {
        if (!opt) r = r (i > 1 ? " " : "") w[i]
        else if (w[i] ~ /^-/) r = r (i > 1 ? " " : "") "\\fB" esc(w[i]) "\\fR"
        else r = r " \\fI" esc(w[i]) "\\fR"
    }
    if (!opt) r = "\\fB" esc(r) "\\fR"
    gsub(/,\\fR/, "\\fR,", r)
    return r
}
# What an option value or an operand named `v` takes, for completion.
function kind(v) {
    sub(/\.\.\.$/, "", v)
    if (v == "MAP") return "map"
    if (v ~ /^(FILE|IMAGE|HEIGHTS)/) return "file"
    return "none"
}
# The usage entries of section s: options with choices, and the operands.
function read_usage(s, e,   n, w, i, t, v) {
    n = split(e, w, " ")
    for (i = 3; i <= n; i++) {
        t = w[i]
        gsub(/[][]/, "", t)
        if (t ~ /^-/) {
            v = w[i + 1]
            gsub(/[][]/, "", v)
            if (i < n && v !~ /^-/ && w[i] !~ /]$/) {
                if (v ~ /\|/) { gsub(/\|/, " ", v); choices[s, t] = v }
                i++
            }
        } else if (t ~ /^[A-Z]/ && kind(t) != "none") {
            operand[s] = kind(t)
        }
    }
}
# One block of section s (lines b[1..m]): usage entries, paragraphs, lists.
function block(s, m,   i, k, t, text, col, r, p, tag, desc, items, out) {
    out = ""
    if (b[1] ~ /^usage: /) {
        k = 0
        for (i = 1; i <= m; i++) {
            t = b[i]
            sub(/^usage: /, "", t)
            if (i == 1 || t ~ /^ +mvx /) use[s, ++k] = trim(t)
            else use[s, k] = use[s, k] " " trim(t)
        }
        nuse[s] = k
        for (i = 1; i <= k; i++) read_usage(s, use[s, i])
        return ""
    }
    text = ""
    for (i = 1; i <= m && b[i] !~ /^ /; i++) text = text (text == "" ? "" : "\n") esc(b[i])
    if (text != "") out = ".PP\n" text "\n"
    if (i > m) return out
    # The description column: after the first gap of two or more spaces on the list'"'"'s first line.
    r = substr(b[i], 3)
    p = index(r, "  ")
    col = p ? p + 2 : length(b[i]) + 1
    while (p && substr(b[i], col + 1, 1) == " ") col++
    items = 0
    for (; i <= m; i++) {
        if (b[i] ~ /^  [^ ]/) {
            if (items) out = out ".TP\n" tag_roff(tag) "\n" esc(desc) "\n"
            items++
            t = b[i]
            if (substr(t, col, 1) != " ") {
                r = substr(t, 3)
                p = index(r, "  ")
                tag = trim(p ? substr(r, 1, p) : r)
                desc = p ? trim(substr(r, p)) : ""
            } else {
                tag = trim(substr(t, 1, col))
                desc = trim(substr(t, col + 1))
            }
            if (s != "mvx" && tag ~ /^-/) option(s, tag)
        } else {
            desc = desc " " trim(b[i])
        }
    }
    if (items) out = out ".TP\n" tag_roff(tag) "\n" esc(desc) "\n"
    return out
}
function option(s, tag,   n, w, i, v) {
    n = split(tag, w, " ")
    v = ""
    for (i = 1; i <= n; i++) if (w[i] !~ /^-/) v = w[i]
    for (i = 1; i <= n; i++) {
        if (w[i] !~ /^-/) continue
        sub(/,$/, "", w[i])
        opts[s] = opts[s] " " w[i]
        valued[s, w[i]] = v != ""
        takes[s, w[i]] = kind(v)
    }
}
function section(s,   i, m, out) {
    out = ""
    m = 0
    for (i = 1; i <= nl[s] + 1; i++) {
        if (i <= nl[s] && line[s, i] != "") { b[++m] = line[s, i]; continue }
        if (m) out = out block(s, m)
        m = 0
    }
    return out
}
/^\001 / { cur = substr($0, 3); order[++nsec] = cur; next }
{ line[cur, ++nl[cur]] = $0 }
END {
    desc_roff = section("mvx")
    for (k = 2; k <= nsec; k++) {
        c = order[k]
        body[c] = section(c)
    }
    if (mode == "man") man()
    else completion()
}
function man(   k, c, i, syn, cmds) {
    syn = ""
    cmds = ""
    for (k = 2; k <= nsec; k++) {
        c = order[k]
        for (i = 1; i <= nuse[c]; i++) syn = syn ".br\n" usage_roff(use[c, i]) "\n"
        cmds = cmds ".SS \"mvx " c "\"\n" body[c]
    }
    while ((getline t < template) > 0) {
        if (t == "@SYNOPSIS@") printf "%s", syn
        else if (t == "@DESCRIPTION@") printf "%s", desc_roff
        else if (t == "@COMMANDS@") printf "%s", cmds
        else { gsub(/@VERSION@/, version, t); print t }
    }
}
# "mvx generate [-o FILE]": the command in bold, values in italics.
function usage_roff(e,   n, w, i, r, t) {
    n = split(e, w, " ")
    r = "\\fB" esc(w[1] " " w[2]) "\\fR"
    for (i = 3; i <= n; i++) {
        t = esc(w[i])
        if (match(t, /[A-Z][A-Za-z0-9,.:]*/))
            t = substr(t, 1, RSTART - 1) "\\fI" substr(t, RSTART, RLENGTH) "\\fR" substr(t, RSTART + RLENGTH)
        r = r " " t
    }
    return r
}
function completion(   k, c, words, n, w, i, files) {
    words = ""
    for (k = 2; k <= nsec; k++) words = words (words == "" ? "" : " ") order[k]
    print "# Bash completion for mvx: its commands, their options, and file names where they take files."
    print "# Made by dist/helpdoc.sh from mvx'"'"'s help texts; do not edit."
    print "_mvx() {"
    print "    local cur=${COMP_WORDS[COMP_CWORD]} prev=${COMP_WORDS[COMP_CWORD - 1]} words= files="
    print "    COMPREPLY=()"
    print "    if [ \"$COMP_CWORD\" -eq 1 ]; then"
    print "        words=\047" words " help --help --version\047"
    print "    else"
    print "        case ${COMP_WORDS[1]}:$prev in"
    print "        help:*) [ \"$COMP_CWORD\" -eq 2 ] && words=\047" words "\047 ;;"
    for (k = 2; k <= nsec; k++) {
        c = order[k]
        n = split(opts[c], w, " ")
        for (i = 1; i <= n; i++) {
            if (!valued[c, w[i]]) continue
            if ((c, w[i]) in choices) print "        " c ":" w[i] ") words=\047" choices[c, w[i]] "\047 ;;"
            else if (takes[c, w[i]] != "none") print "        " c ":" w[i] ") files=" takes[c, w[i]] " ;;"
            else print "        " c ":" w[i] ") return ;;"
        }
        files = (c in operand) ? operand[c] : ""
        if (files == "") print "        " c ":*) words=\047" trim(opts[c] " --help") "\047 ;;"
        else print "        " c ":*) words=\047" trim(opts[c] " --help") "\047; [[ $cur == -* ]] || files=" files " ;;"
    }
    print "        esac"
    print "    fi"
    print "    # File names split at newlines only, so that names with spaces stay whole."
    print "    case $files in"
    print "    map) compopt -o filenames 2>/dev/null; local IFS=$\047\\n\047; COMPREPLY=($(compgen -d -- \"$cur\") $(compgen -f -X \047!*.mvx\047 -- \"$cur\")) ;;"
    print "    file) compopt -o filenames 2>/dev/null; local IFS=$\047\\n\047; COMPREPLY=($(compgen -f -- \"$cur\")) ;;"
    print "    *) COMPREPLY=($(compgen -W \"$words\" -- \"$cur\")) ;;"
    print "    esac"
    print "}"
    print "complete -F _mvx mvx"
}
' >"$out.tmp"
mv "$out.tmp" "$out"
