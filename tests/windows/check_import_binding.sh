#!/bin/sh
# SPDX-License-Identifier: MIT
# Fails unless a program linked through the import library of vu30.dll imports
# the undecorated GetVU30 from vu30.dll: on i686 the import library binds the
# decorated GetVU30@12 that a __stdcall caller asks for to the undecorated
# export. Reads the program only; runs nothing.
#   check_import_binding.sh OBJDUMP PROGRAM
set -eu
objdump=$1
program=$2
imports=$("$objdump" -p "$program" | awk '
  /DLL Name:/ { inside = ($3 == "vu30.dll"); next }
  inside && NF == 0 { inside = 0 }
  inside && NF == 3 && $1 ~ /^[0-9a-f]+$/ && $2 ~ /^[0-9]+$/ { print $3 }')
if [ "$imports" != "GetVU30" ]; then
  echo "$program imports from vu30.dll: $(echo "$imports" | tr '\n' ' ')"
  exit 1
fi
echo "$program imports the undecorated GetVU30 from vu30.dll"
