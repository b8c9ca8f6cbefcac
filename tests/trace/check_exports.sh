#!/bin/sh
# SPDX-License-Identifier: MIT
# Fails unless the trace library exports exactly vu30_trace_open,
# vu30_trace_close and vu30_trace_status (undecorated on Windows, whatever
# the architecture).
#   check_exports.sh elf LIBRARY
#   check_exports.sh pe OBJDUMP DLL
set -eu
case $1 in
  elf) names=$(nm -D --defined-only "$2" | awk '{print $3}' | grep -v '^$' | sort -u) ;;
  pe) names=$("$2" -p "$3" | sed -n '/\[Ordinal\/Name Pointer\] Table/,/^$/p' |
        sed -n 's/^[[:space:]]*\[ *[0-9]*\] //p' | sort -u) ;;
  *) echo "usage: check_exports.sh elf LIBRARY | pe OBJDUMP DLL" >&2; exit 2 ;;
esac
expected=$(printf 'vu30_trace_close\nvu30_trace_open\nvu30_trace_status')
if [ "$names" != "$expected" ]; then
  echo "exported: $(echo "$names" | tr '\n' ' ')"
  exit 1
fi
echo "only vu30_trace_open, vu30_trace_close and vu30_trace_status are exported"
