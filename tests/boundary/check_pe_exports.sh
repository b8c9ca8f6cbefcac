#!/bin/sh
# SPDX-License-Identifier: MIT
# Fails unless the Windows DLL exports exactly one name, the undecorated
# GetVU30. On i686 also checks the stdcall convention: the decorated name
# GetVU30@12 is not exported, GetVU30 returns with "ret $0xc" (it pops its
# own three arguments), and every entry of the driver table (the guarded
# functions' Call) carries a stdcall decoration.
#   check_pe_exports.sh OBJDUMP DLL POINTER_SIZE
set -eu
objdump=$1
dll=$2
pointer_size=$3
fail() {
  echo "$dll: $*"
  exit 1
}

names=$("$objdump" -p "$dll" | sed -n '/\[Ordinal\/Name Pointer\] Table/,/^$/p' |
  sed -n 's/^[[:space:]]*\[ *[0-9]*\] //p')
[ "$names" = "GetVU30" ] || fail "exports: $(echo "$names" | tr '\n' ' ')"

if [ "$pointer_size" = 4 ]; then
  nm=$(echo "$objdump" | sed 's/objdump$/nm/')
  "$nm" "$dll" | grep -q ' _GetVU30@12$' || fail "no stdcall GetVU30@12 inside"
  rets=$("$objdump" -d --disassemble='_GetVU30@12' "$dll" |
    awk '/<_GetVU30@12>:/ { inside = 1; next } />:$/ { inside = 0 } inside && /\tret/')
  [ -n "$rets" ] || fail "GetVU30 has no return"
  if echo "$rets" | grep -v 'ret *\$0xc$' >/dev/null; then
    fail "GetVU30 does not pop its 12 bytes of arguments: $rets"
  fi
  # (their bodies and helpers, named inside them, are the library's own)
  entries=$("$nm" "$dll" | grep 'GuardedFunction' | grep -v '\.cold' |
    grep -v -e '4Body' -e '7Compute' || true)
  [ "$(echo "$entries" | grep -c .)" -ge 26 ] || fail "driver table entries not found"
  if echo "$entries" | grep -v '@[0-9]*$' >/dev/null; then
    fail "a table entry is not stdcall: $(echo "$entries" | grep -v '@[0-9]*$' | head -1)"
  fi
fi
echo "only GetVU30 is exported"
