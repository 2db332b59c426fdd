#!/usr/bin/env bash
# The options a program's --help lists and those its manual page documents are the same
# set: neither may grow an option the other does not know.
#   options_match_man.sh PROGRAM MANPAGE
set -euo pipefail
program="$1"
manpage="$2"
# --help: option lines are indented and start with "-x, --name" or "--name".
from_help="$(QT_QPA_PLATFORM=offscreen "$program" --help |
    sed -nE 's/^ +(-[a-zA-Z], )?(--[a-z][a-z-]*).*/\2/p' | sort -u)"
# The page: every tagged paragraph of OPTIONS starts with ".B \-\-name", ".BI \-\-name"
# or ".BR \-h ", " \-\-name".
from_man="$(sed -n '/^\.SH OPTIONS/,/^\.SH /p' "$manpage" |
    sed -nE '/^\.TP/{n; s/\\-/-/g; s/.*[ "](--[a-z][a-z-]*).*/\1/p}' | sort -u)"
if [ -z "$from_help" ] || [ "$from_help" != "$from_man" ]; then
    echo "FAIL: $(basename "$program") --help and $(basename "$manpage") list different options:" >&2
    diff <(echo "$from_help") <(echo "$from_man") | sed 's/^</  --help only:/; s/^>/  man only:/' >&2
    exit 1
fi
echo "$(echo "$from_help" | wc -l) options in both"
