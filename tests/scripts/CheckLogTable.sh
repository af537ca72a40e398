#!/bin/sh
# Every line the plugin can write to its log has a row in the log table of
# docs/scripting.md ("The debug log"): each format of a LogMessage,
# LogFailure or LineFile::Fail call in plugin/, functions/, linefile/ and
# common/ must match a code span of the table's first column, where a
# conversion (%s, %u, %08X, ...) matches any text, such as a <placeholder>.
# Formats that are nothing but conversions carry text made elsewhere (the
# plugin's name, a system's reason, a routine file's problem) and are left out.
#   CheckLogTable.sh SOURCE-FOLDER
set -u
root=$1
docs=$root/docs/scripting.md
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# The table's code spans, one a line.
awk '/^## / { inside = ($0 == "## The debug log") } inside && /^\| / {
        cell = substr($0, 3); sub(/ \| .*/, "", cell); print cell }' "$docs" |
    grep -o '`[^`]*`' | sed 's/^`//; s/`$//' >"$work/rows"

# FILE:LINE:FORMAT for every call, its literal joined across <inttypes.h>
# macros (%16" PRIX64 " reads as one conversion) and its C escapes undone.
(cd "$root" && find plugin functions linefile common -name '*.cpp' -o -name '*.h' -o -name '*.inc' | sort |
    xargs grep -n -E '(^|[^A-Za-z_])(LogMessage|LogFailure|Fail)\("') |
    sed -E 's/" *PRI([diouxX])[0-9A-Z]* *"/ll\1/g' |
    sed -E -n 's/^([^:]*:[0-9]+):.*(LogMessage|LogFailure|Fail)\("(([^"\\]|\\.)*)".*/\1:\3/p' |
    sed -e 's/\\n$//' -e 's/\\"/"/g' -e 's/\\\\/\\/g' >"$work/formats"

conversion='%[-+ #0]*[0-9]*(\.[0-9]+)?[hlLzjt]*[diouxXcsp]'
formats=0
missing=0
while IFS= read -r entry; do
    place=$(echo "$entry" | cut -d: -f1-2)
    format=$(echo "$entry" | cut -d: -f3-)
    # Nothing but conversions and blanks.
    [ -n "$(echo "$format" | sed -E "s/$conversion//g; s/[[:space:]]//g")" ] || continue
    formats=$((formats + 1))
    pattern=$(echo "$format" | sed -E -e 's/\\/\\\\/g' -e 's/[]$*+?(){}|^.[]/\\&/g' |
        sed -E 's/%[-+ #0]*[0-9]*(\\\.[0-9]+)?[hlLzjt]*[diouxXcsp]/.*/g')
    if ! grep -E -x -q -e "$pattern" "$work/rows"; then
        echo "docs/scripting.md, The debug log: no row for the line \"$format\" ($place)"
        missing=$((missing + 1))
    fi
done <"$work/formats"

# A broken extraction must not pass on nothing.
[ "$(wc -l <"$work/rows")" -ge 20 ] || { echo "the log table of $docs has hardly any rows"; exit 1; }
[ $formats -ge 20 ] || { echo "found only $formats log formats in the code"; exit 1; }
[ $missing = 0 ] || exit 1
echo "$formats log lines of the code, each with its row in the log table"
