#!/usr/bin/env bash
# Holds a build's libzeic_vcom.so against the ABI the project has published
# for its SONAME (abi/libzeic_vcom.so.N.abi, written by abidw): a removed or
# incompatibly changed exported function, variable or type fails; additions
# are listed and pass.
#
# Usage: scripts/check-abi.sh BUILD_DIR            compare
#        scripts/check-abi.sh --update BUILD_DIR   write the baseline anew (only
#            for a new SONAME: bump ZE_VCOM_SOVERSION first)
set -euo pipefail

update=0
if [ "${1:-}" = --update ]; then update=1; shift; fi
build=$(realpath -- "${1:?usage: scripts/check-abi.sh [--update] BUILD_DIR}")
cd "$(dirname "$0")/.."

soname=$(cd "$build/lib" 2>/dev/null && ls libzeic_vcom.so.[0-9]* 2>/dev/null | grep -E '^libzeic_vcom\.so\.[0-9]+$' | head -1) ||
  true
if [ -z "$soname" ]; then
  echo "check-abi: no libzeic_vcom.so.N in $build/lib; build the library first" >&2
  exit 1
fi
baseline=abi/$soname.abi
library=$build/lib/$soname

if [ "$update" = 1 ]; then
  mkdir -p abi
  abidw --no-show-locs --no-corpus-path --no-comp-dir-path "$library" --out-file "$baseline"
  echo "check-abi: wrote $baseline from $library"
  exit 0
fi
if [ ! -f "$baseline" ]; then
  echo "check-abi: no published ABI for $soname ($baseline); a new SONAME needs one: scripts/check-abi.sh --update $build" >&2
  exit 1
fi

# abidiff's status is a bit mask: 1 error, 2 usage, 4 a change, 8 an
# incompatible change (a removed symbol among them).
status=0
abidiff --no-show-locs "$baseline" "$library" || status=$?
if [ $((status & 11)) -ne 0 ]; then
  echo "check-abi: $library breaks the ABI published in $baseline (abidiff status $status)" >&2
  exit 1
fi
echo "check-abi: $soname keeps the ABI of $baseline"
