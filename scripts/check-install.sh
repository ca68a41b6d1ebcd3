#!/usr/bin/env bash
# Installs a built preset to a staging prefix (build/<preset>/stage), checks
# the installed binaries with readelf, and builds and runs the consumer
# project (examples/consumer) against the prefix, once through find_package and
# once through pkg-config. armhf runs under qemu-arm.
# Usage: scripts/check-install.sh PRESET
set -euo pipefail
cd "$(dirname "$0")/.."

preset=${1:?usage: check-install.sh PRESET}
build=$PWD/build/$preset
stage=$build/stage
toolchain=() run=()
if [ "$preset" = armhf ]; then
  toolchain=(-DCMAKE_TOOLCHAIN_FILE="$PWD/cmake/armhf.cmake")
  run=(qemu-arm)
fi

rm -rf "$stage"
cmake --install "$build" --prefix "$stage" >/dev/null
libdir=$(dirname "$(find "$stage" -name 'libzeic_vcom.so.*' -print -quit)")
hardened=()
grep -q '^ZE_HARDEN:BOOL=ON' "$build/CMakeCache.txt" && hardened=(--hardened)
scripts/check-elf.sh --installed "${hardened[@]}" "$stage/bin/vcomctl" "$libdir"/lib*.so.*.*

# Without a platform configuration: the bring-up needs none, and the host's
# own /etc stays out of it.
root=$build/consumer-root
mkdir -p "$root"
for mode in find_package pkg-config; do
  out=$build/consumer-$mode
  rm -rf "$out"
  if [ "$mode" = pkg-config ]; then
    PKG_CONFIG_PATH=$libdir/pkgconfig cmake -S examples/consumer -B "$out" -G Ninja "${toolchain[@]}" \
      -DUSE_PKG_CONFIG=ON >/dev/null
  else
    cmake -S examples/consumer -B "$out" -G Ninja "${toolchain[@]}" -DCMAKE_PREFIX_PATH="$stage" >/dev/null
  fi
  cmake --build "$out" >/dev/null
  if ! output=$(ZE_PLATFORM_ROOT=$root "${run[@]}" "$out/vcom_consumer" 2>/dev/null) ||
    [ "$output" != "vcom_consumer: VCOM driver registered" ]; then
    echo "check-install: consumer ($preset, $mode) failed: $output" >&2
    exit 1
  fi
  echo "check-install: consumer ($preset, $mode): ok"
done
