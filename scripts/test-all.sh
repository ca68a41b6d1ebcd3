#!/usr/bin/env bash
# Builds and runs every test suite: host (debug), host with AddressSanitizer
# and UndefinedBehaviorSanitizer, host with ThreadSanitizer, the armhf cross
# build under qemu-arm, each fuzz target for a short while
# ($ZE_FUZZ_SECONDS, default 20 s), and the system test on a real armhf kernel
# under qemu-system-arm.
# Installs what it needs first.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/install-deps.sh --armhf

jobs=$(nproc)
for preset in host-debug host-asan host-tsan armhf; do
  echo "== $preset"
  cmake --preset "$preset"
  cmake --build --preset "$preset" -j "$jobs"
  ctest --preset "$preset" -j "$jobs"
done

echo "== fuzz"
bash scripts/fuzz.sh "${ZE_FUZZ_SECONDS:-20}"

if [ "${ZE_SKIP_SYSTEM_TEST:-0}" != 1 ]; then
  echo "== system test (armhf kernel under qemu-system-arm)"
  bash tests/system/run.sh "$PWD/build/armhf"
fi
