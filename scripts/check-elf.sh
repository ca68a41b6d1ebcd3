#!/usr/bin/env bash
# Checks built or installed ELF files with readelf:
#   - RUNPATH without empty elements (the loader reads one as the current
#     directory); with --installed every element must be $ORIGIN-relative,
#     so no build path ships;
#   - with --hardened: full RELRO (GNU_RELRO segment and BIND_NOW), and the
#     stack protector or _FORTIFY_SOURCE at work (__stack_chk_fail or a
#     __*_chk function referenced).
# Usage: scripts/check-elf.sh [--installed] [--hardened] FILE...
set -euo pipefail

installed=0 hardened=0
while [ $# -gt 0 ]; do
  case "$1" in
    --installed) installed=1 ;;
    --hardened) hardened=1 ;;
    -*) echo "check-elf: unknown option '$1'" >&2; exit 2 ;;
    *) break ;;
  esac
  shift
done
[ $# -gt 0 ] || { echo "usage: check-elf.sh [--installed] [--hardened] FILE..." >&2; exit 2; }

failures=0
fail() { echo "check-elf: $1: $2" >&2; failures=$((failures + 1)); }

for file in "$@"; do
  dynamic=$(readelf -d -W "$file") || { fail "$file" "not an ELF file"; continue; }
  runpath=$(sed -n 's/.*(R\(UN\)\{0,1\}PATH).*\[\(.*\)\]$/\2/p' <<<"$dynamic")
  if [ -n "$runpath" ]; then
    case ":$runpath:" in
      *::*) fail "$file" "RUNPATH '$runpath' has an empty element (the current directory)" ;;
    esac
    if [ "$installed" -eq 1 ]; then
      IFS=: read -ra elements <<<"$runpath"
      for element in "${elements[@]}"; do
        case "$element" in
          '$ORIGIN' | '$ORIGIN/'*) ;;
          *) fail "$file" "RUNPATH element '$element' is not relative to \$ORIGIN" ;;
        esac
      done
    fi
  fi
  [ "$hardened" -eq 1 ] || continue
  # Whole outputs are read before grep -q stops early: no SIGPIPE under pipefail.
  grep -Eq '\(FLAGS(_1)?\).*\b(BIND_NOW|NOW)\b' <<<"$dynamic" ||
    fail "$file" "no BIND_NOW (link with -z now)"
  grep -q GNU_RELRO <<<"$(readelf -l -W "$file")" || fail "$file" "no GNU_RELRO segment (link with -z relro)"
  grep -Eq ' UND (__stack_chk_fail|__[a-z_]+_chk)(@| |$)' <<<"$(readelf --dyn-syms -W "$file")" ||
    fail "$file" "neither __stack_chk_fail nor a __*_chk function referenced (stack protector, _FORTIFY_SOURCE)"
done

if [ "$failures" -gt 0 ]; then
  echo "check-elf: $failures problem(s)" >&2
  exit 1
fi
echo "check-elf: $# file(s) ok"
