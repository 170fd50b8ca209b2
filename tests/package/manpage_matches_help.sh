#!/usr/bin/env bash
# The manual page documents exactly the options that --help lists: one added
# to the program and not to the page, or left on the page after it went,
# fails. The page must also format without a groff warning.
# Usage: manpage_matches_help.sh <wideglass> <wideglass.1>
set -uo pipefail
exe="$1" page="$2"

help="$("$exe" --help)" || { echo "FAIL: $exe --help failed"; exit 1; }
# "  -h, --help   Show ...": the names before the description.
from_help="$(sed -n '/^Options:/,$p' <<<"$help" | grep -E '^ +-' |
             sed -E 's/^ +//; s/  .*//; s/ <[^>]*>//g' | tr ',' '\n' | tr -d ' ' | sort -u)"
# The tags of the OPTIONS section: the line after each .TP.
from_page="$(sed -n '/^\.SH OPTIONS/,/^\.SH /p' "$page" | awk 'tp { print; tp = 0 } /^\.TP/ { tp = 1 }' |
             sed 's/\\-/-/g' | grep -oE '(^|[ "])--?[a-zA-Z][a-z-]*' | tr -d ' "' | sort -u)"

rc=0
if [ -z "$from_help" ] || [ -z "$from_page" ]; then
  echo "FAIL: no options read (help: '$from_help', page: '$from_page')"
  exit 1
fi
only_help="$(comm -23 <(echo "$from_help") <(echo "$from_page"))"
only_page="$(comm -13 <(echo "$from_help") <(echo "$from_page"))"
[ -n "$only_help" ] && { echo "FAIL: in --help but not in the manual page:" $only_help; rc=1; }
[ -n "$only_page" ] && { echo "FAIL: in the manual page but not in --help:" $only_page; rc=1; }

warnings="$(groff -man -ww -z "$page" 2>&1)"
[ -n "$warnings" ] && { echo "FAIL: groff: $warnings"; rc=1; }
[ "$rc" -eq 0 ] && echo "manual page and --help agree on:" $from_help
exit $rc
