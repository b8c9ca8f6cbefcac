#!/bin/sh
# SPDX-License-Identifier: MIT
# Fails unless every DLL named imports only Windows functions in the
# committed list (windows_imports.txt), none first present in a Windows newer
# than the floor, the oldest Windows the build runs on; and unless its PE
# header names the floor's version as the oldest system and subsystem it
# needs. Reads the DLLs only; runs nothing.
#   check_windows_imports.sh OBJDUMP FLOOR LIST DLL...
# FLOOR and the list's versions: major.minor or major.minor-spN (5.1-sp3 is
# Windows XP SP3). DLL names compare without case, as Windows finds them.
set -eu
objdump=$1
floor=$2
list=$3
shift 3
[ -r "$list" ] || {
  echo "no list of Windows imports: $list"
  exit 2
}

status=0
for dll in "$@"; do
  dump=$("$objdump" -p "$dll")
  if ! printf '%s\n' "$dump" | awk -v floor="$floor" -v list="$list" -v dll="$(basename "$dll")" '
    # A version as one number: 5.1-sp3 -> 50103; -1 when it is not one.
    function key(v,   sp, at, parts) {
      sp = 0
      at = index(v, "-sp")
      if (at > 0) {
        sp = substr(v, at + 3)
        if (sp !~ /^[0-9]+$/) return -1
        v = substr(v, 1, at - 1)
      }
      if (split(v, parts, ".") != 2 || parts[1] !~ /^[0-9]+$/ || parts[2] !~ /^[0-9]+$/) return -1
      return parts[1] * 10000 + parts[2] * 100 + sp
    }
    function fail(text) { print dll ": " text; bad = 1 }
    BEGIN {
      floorKey = key(floor)
      if (floorKey < 0) { print "floor not a version: " floor; fatal = 1; exit 2 }
      split(floor, floorParts, /[.-]/)
      while ((getline line < list) > 0) {
        ++lineNo
        sub(/#.*/, "", line)
        n = split(line, f, " ")
        if (n == 0) continue
        if (n != 4 || key(f[3]) < 0) {
          print list ":" lineNo ": not DLL FUNCTION VERSION SOURCE"; fatal = 1; exit 2
        }
        first[tolower(f[1]) SUBSEP f[2]] = f[3]
      }
    }
    /^MajorOSystemVersion/ { osMajor = $2 }
    /^MinorOSystemVersion/ { osMinor = $2 }
    /^MajorSubsystemVersion/ { subMajor = $2 }
    /^MinorSubsystemVersion/ { subMinor = $2 }
    /^The Import Tables/ { inImports = 1; next }
    inImports && /^[A-Za-z]/ { inImports = 0 }
    inImports && /^\tDLL Name: / { lib = $3; listing = 0; next }
    inImports && /Hint\/Ord/ { listing = 1; next }
    inImports && listing && NF == 0 { listing = 0; next }
    inImports && listing {
      if (NF != 3 || $1 !~ /^[0-9a-f]+$/ || $2 !~ /^[0-9]+$/) { fail("unread import line: " $0); next }
      ++imports
      libs[lib] = 1
      k = tolower(lib) SUBSEP $3
      if (!(k in first)) fail(lib " " $3 ": not in the list of Windows functions we may import")
      else if (key(first[k]) > floorKey)
        fail(lib " " $3 ": first in Windows " first[k] ", newer than the floor " floor)
    }
    END {
      if (fatal) exit 2
      if (imports == 0) fail("no imports read")
      want = floorParts[1] "." floorParts[2]
      if (osMajor "." osMinor != want)
        fail("PE header: oldest system " osMajor "." osMinor ", not the floor " want)
      if (subMajor "." subMinor != want)
        fail("PE header: oldest subsystem " subMajor "." subMinor ", not the floor " want)
      if (bad) exit 1
      names = ""
      for (l in libs) names = names " " l
      print dll ": " imports " imports from" names ", none newer than Windows " floor "; PE header " want
    }'; then
    status=1
  fi
done
exit $status
