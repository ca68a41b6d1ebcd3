#!/usr/bin/env bash
# Builds and runs every test suite: host (debug), host with AddressSanitizer
# and UndefinedBehaviorSanitizer, host with ThreadSanitizer, the armhf cross
# build under qemu-arm and the hardened host release build. Holds the
# library's ABI against the published one (abi/), builds the embedded preset
# (what a firmware image takes: library and platform) and the tools without
# the simulated board. Installs host and armhf to a staging prefix and builds
# the consumer project (examples/consumer) against it through find_package
# and through pkg-config; makes the Debian packages (build/<preset>/packages)
# and runs lintian on them; runs each fuzz target for a short while
# ($ZE_FUZZ_SECONDS, default 20 s); and runs the system test on a real armhf
# kernel under qemu-system-arm with the armhf packages installed. Then the
# same on Debian 13 (scripts/deb13.sh): in a cached trixie root file system,
# the host-debug suite, the armhf build and its packages, and the system test
# on trixie's armhf kernel.
# Installs what it needs first.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/install-deps.sh --armhf
bash scripts/check-format.sh

jobs=$(nproc)
for preset in host-debug host-asan host-tsan armhf host-release; do
  echo "== $preset"
  cmake --preset "$preset"
  cmake --build --preset "$preset" -j "$jobs"
  ctest --preset "$preset" -j "$jobs"
done

echo "== libzeic_vcom's ABI against the published one"
bash scripts/check-abi.sh build/host-debug

# What a firmware image takes, and the tools on a board without the simulator.
for preset in embedded tools-nosim; do
  echo "== $preset"
  cmake --preset "$preset"
  cmake --build --preset "$preset" -j "$jobs"
done
bash scripts/check-embedded.sh build/embedded

# Copyright and changelog files wait for the project's licence and release
# history; every other lintian error fails the run.
lintian_known=no-copyright-file,no-changelog
for preset in host-release armhf; do
  echo "== $preset: install to a staging prefix, consumer project against it"
  bash scripts/check-install.sh "$preset"
  echo "== $preset: Debian packages in build/$preset/packages"
  rm -rf "build/$preset/packages"
  cpack --preset "$preset" >/dev/null
  lintian --fail-on error --suppress-tags "$lintian_known" --tag-display-limit 0 \
    "build/$preset/packages"/*.deb
done

echo "== fuzz"
bash scripts/fuzz.sh "${ZE_FUZZ_SECONDS:-20}"

if [ "${ZE_SKIP_SYSTEM_TEST:-0}" != 1 ]; then
  echo "== system test (armhf kernel under qemu-system-arm, armhf packages installed)"
  ZE_VM_DEBS="$PWD/build/armhf/packages" bash tests/system/run.sh "$PWD/build/armhf"
fi

if [ "${ZE_SKIP_DEB13:-0}" != 1 ]; then
  echo "== Debian 13: trixie root file system, host-debug suite, armhf packages, system test"
  bash scripts/deb13.sh
fi
