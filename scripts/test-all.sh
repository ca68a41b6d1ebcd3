#!/usr/bin/env bash
# Builds and runs every test suite: host (debug), host with AddressSanitizer
# and UndefinedBehaviorSanitizer, the armhf cross build under qemu-arm, and
# the system test on a real armhf kernel under qemu-system-arm.
# Installs what it needs first.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/install-deps.sh --armhf

jobs=$(nproc)
for preset in host-debug host-asan armhf; do
  echo "== $preset"
  cmake --preset "$preset"
  cmake --build --preset "$preset" -j "$jobs"
  ctest --preset "$preset" -j "$jobs"
done

if [ "${ZE_SKIP_SYSTEM_TEST:-0}" != 1 ]; then
  echo "== system test (armhf kernel under qemu-system-arm)"
  bash tests/system/run.sh "$PWD/build/armhf"
fi
