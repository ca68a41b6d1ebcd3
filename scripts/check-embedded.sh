#!/usr/bin/env bash
# What the embedded preset builds is what a firmware image takes: the driver
# library and the platform, both 32-bit ARM, and no tool, simulator or test.
set -euo pipefail
build=${1:?usage: scripts/check-embedded.sh BUILD_DIR}

mapfile -t elves < <(find "$build" -path '*/CMakeFiles' -prune -o -type f -print0 |
  xargs -0 -r file -N | grep ': ELF' | sort)
names=$(printf '%s\n' "${elves[@]}" | sed -E 's|^.*/([^/:]+): .*$|\1|' | sort | tr '\n' ' ')
if ! [[ "$names" =~ ^libzeic_vcom\.so\.[0-9.]+\ libzeplatform\.so\.[0-9.]+\ $ ]]; then
  echo "check-embedded: $build holds '$names'; expected libzeic_vcom.so and libzeplatform.so alone" >&2
  exit 1
fi
for elf in "${elves[@]}"; do
  if [[ "$elf" != *"ELF 32-bit LSB shared object, ARM"* ]]; then
    echo "check-embedded: not a 32-bit ARM shared library: $elf" >&2
    exit 1
  fi
done
echo "check-embedded: $build holds the driver library and the platform, 32-bit ARM, nothing else"
