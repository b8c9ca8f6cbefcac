#!/bin/sh
# SPDX-License-Identifier: MIT
# Fails unless the manual page names every command and option that the
# program's --help names: each command in a "vu30-trace COMMAND" line of
# the synopsis, each option as a word of its own.
#   check_man_page.sh PROGRAM PAGE
set -eu
help=$("$1" --help)
# The page's text without its font changes and with its escaped hyphens
# plain (\fB--post\fR, \-\-post: --post).
page=$(sed -e 's/\\f[BIRP]//g' -e 's/\\-/-/g' "$2")
commands=$(printf '%s\n' "$help" | sed -n 's/^.*vu30-trace \([a-z][a-z]*\).*$/\1/p' | sort -u)
options=$(printf '%s\n' "$help" | grep -oE '(^|[[ ])--?[a-z][a-z-]*' | tr -d '[ ' | sort -u)
[ -n "$commands" ] && [ -n "$options" ] || { echo "no commands or options in --help" >&2; exit 1; }
missing=""
for c in $commands; do
  printf '%s\n' "$page" | grep -qE "vu30-trace $c( |\$)" || missing="$missing $c"
done
for o in $options; do
  printf '%s\n' "$page" | grep -qE -e "(^|[^a-z-])$o([^a-z-]|\$)" || missing="$missing $o"
done
if [ -n "$missing" ]; then
  echo "not in $2:$missing" >&2
  exit 1
fi
echo "$2 names" $commands $options
