#!/usr/bin/env bash
# Builds and runs every test suite: host (debug), host with AddressSanitizer
# and UndefinedBehaviorSanitizer, the armhf cross build under qemu-arm and the
# hardened host release build; installs host and armhf to a staging prefix and
# builds the consumer project (tests/consumer) against it through find_package
# and through pkg-config; makes the Debian packages (build/<preset>/packages)
# and runs lintian on them; and runs the system test on a real armhf kernel
# under qemu-system-arm with the armhf packages installed.
# Installs what it needs first.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/install-deps.sh --armhf
bash scripts/check-format.sh

jobs=$(nproc)
for preset in host-debug host-asan armhf host-release; do
  echo "== $preset"
  cmake --preset "$preset"
  cmake --build --preset "$preset" -j "$jobs"
  ctest --preset "$preset" -j "$jobs"
done

# The consumer against a staging prefix, as an integrator's project sees it.
consume() {
  local preset=$1 build=$PWD/build/$1
  local stage=$build/stage toolchain=() run=()
  if [ "$preset" = armhf ]; then
    toolchain=(-DCMAKE_TOOLCHAIN_FILE="$PWD/cmake/armhf.cmake")
    run=(qemu-arm)
  fi
  echo "== $preset: install to a staging prefix, consumer project against it"
  rm -rf "$stage"
  cmake --install "$build" --prefix "$stage" >/dev/null
  scripts/check-elf.sh --installed --hardened "$stage"/bin/vcomctl "$stage"/lib*/**/lib*.so.*[0-9]
  local libdir pcdir root=$build/consumer-root
  libdir=$(dirname "$(find "$stage" -name 'libzeic_vcom.so.*' -print -quit)")
  pcdir=$libdir/pkgconfig
  mkdir -p "$root"
  for mode in find_package pkg-config; do
    local out=$build/consumer-$mode
    rm -rf "$out"
    if [ "$mode" = pkg-config ]; then
      PKG_CONFIG_PATH=$pcdir cmake -S tests/consumer -B "$out" -G Ninja "${toolchain[@]}" \
        -DUSE_PKG_CONFIG=ON >/dev/null
    else
      cmake -S tests/consumer -B "$out" -G Ninja "${toolchain[@]}" -DCMAKE_PREFIX_PATH="$stage" >/dev/null
    fi
    cmake --build "$out" >/dev/null
    ZE_PLATFORM_ROOT=$root "${run[@]}" "$out/vcom_consumer" 2>/dev/null | grep -qx 'vcom_consumer: VCOM driver registered' ||
      { echo "consumer ($preset, $mode) failed" >&2; exit 1; }
    echo "consumer ($preset, $mode): ok"
  done
}
shopt -s globstar
consume host-release
consume armhf

for preset in host-release armhf; do
  echo "== $preset: Debian packages"
  rm -rf "build/$preset/packages"
  cpack --preset "$preset" >/dev/null
  ls "build/$preset/packages"/*.deb
  # Reported, not fatal: see README (Install and use from your build).
  lintian --no-tag-display-limit "build/$preset/packages"/*.deb || true
done

if [ "${ZE_SKIP_SYSTEM_TEST:-0}" != 1 ]; then
  echo "== system test (armhf kernel under qemu-system-arm, armhf packages installed)"
  ZE_VM_DEBS="$PWD/build/armhf/packages" bash tests/system/run.sh "$PWD/build/armhf"
fi
