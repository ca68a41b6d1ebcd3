#!/usr/bin/env bash
# Installs every Debian package the build, the tests and the demo need, host
# and armhf. Safe to run again; does nothing that is already done.
set -euo pipefail

as_root() { if [ "$(id -u)" -eq 0 ]; then "$@"; else sudo "$@"; fi; }

HOST_PKGS=(
  build-essential cmake ninja-build pkg-config
  libboost-dev libinih-dev libubootenv-dev libubootenv-tool
  libgpiod-dev libcli11-dev nlohmann-json3-dev
  libgtest-dev libgmock-dev googletest
  clang-format dpkg-dev file lintian
  libbenchmark-dev  # bench/, scripts/bench.sh
  clang libclang-rt-14-dev gcovr  # fuzz/, scripts/coverage.sh
  python3 chromium fonts-dejavu-core  # the plots, seen in a headless browser
  abigail-tools  # scripts/check-abi.sh: the library's ABI against the published one
  mmdebstrap  # scripts/deb13.sh: the Debian 13 root file system the trixie legs build in
)
ARMHF_PKGS=(
  g++-arm-linux-gnueabihf qemu-user
  libc6:armhf libstdc++6:armhf
  libinih-dev:armhf libubootenv-dev:armhf libgpiod-dev:armhf
  libgtest-dev:armhf libgmock-dev:armhf
)
# Boost's smart pointers are header-only: the cross compiler uses the host's
# /usr/include/boost, so no armhf boost package is needed.

want_armhf=0
for arg in "$@"; do
  case "$arg" in
    --armhf) want_armhf=1 ;;
    *) echo "install-deps: unknown option '$arg' (use --armhf)" >&2; exit 2 ;;
  esac
done

missing() {
  local p out=()
  for p in "$@"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || out+=("$p")
  done
  echo "${out[@]:-}"
}

export DEBIAN_FRONTEND=noninteractive
pkgs=("${HOST_PKGS[@]}")
if [ "$want_armhf" -eq 1 ]; then
  if ! dpkg --print-foreign-architectures | grep -qx armhf; then
    as_root dpkg --add-architecture armhf
  fi
  pkgs+=("${ARMHF_PKGS[@]}")
fi

todo=$(missing "${pkgs[@]}")
[ -z "$todo" ] && exit 0

# With armhf added, one index can be briefly out of sync and apt-get update
# exits 100 although the installs below still work: do not stop on that alone.
as_root apt-get update || echo "install-deps: apt-get update reported an error; trying the install anyway" >&2

# A stale armhf index can offer an armhf package at an older version than the
# installed amd64 one; Multi-Arch: same packages must match across
# architectures. Ask apt which armhf dependencies it cannot place and request
# both architectures at the version the armhf index has, until it can.
pins=()
for _ in 1 2 3 4 5 6 7 8; do
  # shellcheck disable=SC2086
  if out=$(apt-get install -s -y --no-install-recommends --allow-downgrades $todo "${pins[@]}" 2>&1); then
    break
  fi
  stuck=$(printf '%s\n' "$out" | sed -n 's/.*Depends: \([^ :]*\):armhf.*not going to be installed.*/\1/p' | sort -u)
  [ -z "$stuck" ] && break
  for dep in $stuck; do
    ver=$(apt-cache policy "$dep:armhf" | sed -n 's/^ *Candidate: //p')
    [ -z "$ver" ] || [ "$ver" = "(none)" ] && continue
    pins+=("$dep:armhf=$ver")
    if dpkg-query -W -f='${Status}' "$dep" 2>/dev/null | grep -q 'install ok installed'; then
      pins+=("$dep=$ver")
    fi
  done
done
# shellcheck disable=SC2086
as_root apt-get install -y --no-install-recommends --allow-downgrades $todo "${pins[@]}"
