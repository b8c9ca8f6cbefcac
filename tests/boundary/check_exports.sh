#!/bin/sh
# SPDX-License-Identifier: MIT
# Fails unless GetVU30 is the only symbol the shared library defines for others.
set -eu
symbols=$(nm -D --defined-only "$1" | awk '{print $3}' | grep -v '^$' | sort -u)
if [ "$symbols" != "GetVU30" ]; then
  echo "exported symbols of $1:"
  echo "$symbols"
  exit 1
fi
echo "only GetVU30 is exported"
