#!/usr/bin/env bash
# The Debian 13 ("trixie") legs of CI, on a Debian 12 machine: nothing from
# Debian 13 is installed on the host. A trixie root file system (amd64 with
# armhf multiarch: GCC 14, libgpiod 2, the armhf cross toolchain and
# qemu-system-arm) is made once with mmdebstrap and cached outside the work
# tree, keyed by a hash of its package list; every build runs in it through
# chroot, in a private mount namespace that ends with the command.
#
# Usage: scripts/deb13.sh [STEP...]   (default: all but shell, in this order;
#                                      ZE_SKIP_SYSTEM_TEST=1 leaves out system)
#   rootfs    make (or reuse) the cached root file system
#   host      host-debug build with -Werror and its CTest suite (build/deb13/host-debug)
#   armhf     armhf cross build, release with debug info, no tests (build/deb13/armhf)
#   packages  Debian packages of the armhf build (build/deb13/armhf/packages), lintian
#   system    tests/system/run.sh on trixie's armhf kernel with those packages
#   shell     an interactive shell in the root file system, the repository at /src
# Environment:
#   ZE_DEB13_CACHE    cache directory (default ~/.cache/libzeic_vcom-deb13): the root
#                     file system, ccache, the system test's downloads
#   ZE_DEB13_MIRROR   Debian archive to build the root file system from (default: the
#                     host's apt mirror for Debian)
#   ZE_DEB13_JOBS     parallel build jobs (default: the number of CPUs, at most 2)
#
# Exit status: 0 when every step passed; the first failing step's status otherwise.
set -euo pipefail
cd "$(dirname "$0")/.."
repo=$PWD

SUITE=trixie
cache=${ZE_DEB13_CACHE:-$HOME/.cache/libzeic_vcom-deb13}
jobs=${ZE_DEB13_JOBS:-$(nproc)}
[ "$jobs" -gt 2 ] && jobs=2
BUILD_DIR=build/deb13
MACH=arm-linux-gnueabihf

ROOTFS_PKGS=(
  build-essential cmake ninja-build pkg-config ccache
  libboost-dev libinih-dev libubootenv-dev libgpiod-dev libcli11-dev nlohmann-json3-dev
  libgtest-dev libgmock-dev googletest
  dpkg-dev file lintian libubootenv-tool
  "g++-$MACH" libc6:armhf libstdc++6:armhf
  libinih-dev:armhf libubootenv-dev:armhf libgpiod-dev:armhf
  # tests/system/run.sh: the VM and the kernel module's build against trixie's headers
  qemu-system-arm cpio make xz-utils gzip "binutils-$MACH" "gcc-14-$MACH" libelf1t64 libssl3t64 pahole
)

# Unsafe I/O: a root file system cut short is made again anyway (it counts
# as made only once complete). Documentation is left out; the package lists
# stay for the system test's downloads.
# shellcheck disable=SC2054  # amd64,armhf is one argument
MMDEBSTRAP_OPTS=(
  --mode=root --variant=apt --architectures=amd64,armhf
  --aptopt='APT::Install-Recommends "false"'
  --dpkgopt=force-unsafe-io
  --dpkgopt='path-exclude=/usr/share/man/*' --dpkgopt='path-exclude=/usr/share/doc/*'
  --dpkgopt='path-exclude=/usr/share/locale/*' --dpkgopt='path-include=/usr/share/locale/locale.alias'
  --skip=cleanup/apt/lists
)

log() { printf 'deb13: %s\n' "$*" >&2; }
die() { printf 'deb13: error: %s\n' "$*" >&2; exit 1; }
as_root() { if [ "$(id -u)" -eq 0 ]; then "$@"; else sudo "$@"; fi; }

# The host's Debian mirror, as apt is configured (one-line or deb822 sources).
host_mirror() {
  local uri
  uri=$(cat /etc/apt/sources.list /etc/apt/sources.list.d/*.list /etc/apt/sources.list.d/*.sources 2>/dev/null |
        sed -n -e 's/^deb \(\[[^]]*\] \)\{0,1\}\([^ ]*\/debian\/\{0,1\}\) .*/\2/p' \
               -e 's/^URIs: *\([^ ]*\/debian\/\{0,1\}\)$/\1/p' | head -n 1)
  echo "${uri:-http://deb.debian.org/debian}"
}

rootfs_key=$(printf '%s\n' "$SUITE" "${ROOTFS_PKGS[@]}" "${MMDEBSTRAP_OPTS[@]}" | sha256sum | cut -c1-16)
rootfs=$cache/rootfs-$SUITE-$rootfs_key

step_rootfs() {
  if [ -f "$rootfs/.ready" ]; then
    log "root file system $rootfs (cached)"
    return 0
  fi
  command -v mmdebstrap >/dev/null || die "mmdebstrap is missing (scripts/install-deps.sh installs it)"
  local mirror include
  mirror=${ZE_DEB13_MIRROR:-$(host_mirror)}
  include=$(printf '%s,' "${ROOTFS_PKGS[@]}")
  log "making the $SUITE root file system from $mirror in $rootfs"
  # A run cut short leaves no mounts behind: mmdebstrap's are in a namespace
  # of their own.
  as_root rm -rf --one-file-system "$cache"/rootfs-"$SUITE"-*
  mkdir -p "$cache"
  # shellcheck disable=SC2016  # the hook's $1 is mmdebstrap's
  as_root unshare --mount --propagation private -- mmdebstrap "${MMDEBSTRAP_OPTS[@]}" --include="${include%,}" \
    --customize-hook='rm -f "$1"/etc/hostname' \
    "$SUITE" "$rootfs.tmp" "deb $mirror $SUITE main"
  touch "$rootfs.tmp/.ready"
  mv "$rootfs.tmp" "$rootfs"
}

# in_rootfs CMD...: runs CMD as root in the root file system, in /src (the
# repository), with /proc, /sys, /dev, the ccache and the system test's
# cache mounted; the mounts go with the namespace.
in_rootfs() {
  mkdir -p "$cache/ccache" "$cache/vm"
  # shellcheck disable=SC2016  # expanded by the inner shells
  as_root unshare --mount --propagation private -- /bin/sh -euc '
    root=$1 repo=$2 cache=$3; shift 3
    mount -t proc proc "$root/proc"
    mount --rbind /sys "$root/sys"
    mount --rbind /dev "$root/dev"
    mkdir -p "$root/src" "$root/var/cache/ccache" "$root/var/cache/ze-vm"
    mount --bind "$repo" "$root/src"
    mount --bind "$cache/ccache" "$root/var/cache/ccache"
    mount --bind "$cache/vm" "$root/var/cache/ze-vm"
    mount -t tmpfs tmpfs "$root/tmp"
    cp /etc/resolv.conf "$root/etc/resolv.conf" 2>/dev/null || true
    exec chroot "$root" /usr/bin/env -i HOME=/root PATH=/usr/sbin:/usr/bin:/sbin:/bin LANG=C.UTF-8 \
      CCACHE_DIR=/var/cache/ccache CCACHE_BASEDIR=/src \
      CMAKE_C_COMPILER_LAUNCHER=ccache CMAKE_CXX_COMPILER_LAUNCHER=ccache \
      DEBIAN_FRONTEND=noninteractive ZE_VM_CACHE=/var/cache/ze-vm "$@"
  ' sh "$rootfs" "$repo" "$cache" /bin/bash -euo pipefail -c 'cd /src && eval "$1"' bash "$*"
}

# The browser check of the pictures needs Chromium and the fonts of the
# Debian 12 host, where test-all.sh runs it; the root file system has neither.
step_host() {
  log "host-debug with GCC $(in_rootfs 'gcc -dumpversion'), libgpiod $(in_rootfs 'pkg-config --modversion libgpiod')"
  in_rootfs "cmake --preset host-debug -B $BUILD_DIR/host-debug >/dev/null &&
             cmake --build $BUILD_DIR/host-debug -j $jobs &&
             ctest --test-dir $BUILD_DIR/host-debug --output-on-failure --no-tests=error -j $jobs \\
                   -E '^vcomplot[.]browser_'"
}

step_armhf() {
  # The tests run in the host suite; the system test needs the libraries,
  # vcomctl and the responder.
  in_rootfs "cmake --preset armhf -B $BUILD_DIR/armhf -DBUILD_TESTING=OFF >/dev/null &&
             cmake --build $BUILD_DIR/armhf -j $jobs"
}

step_packages() {
  # Copyright and changelog files wait for the project's licence and release
  # history (as in test-all.sh); every other lintian error fails the run.
  in_rootfs "rm -rf $BUILD_DIR/armhf/packages &&
             (cd $BUILD_DIR/armhf && cpack >/dev/null) &&
             dpkg-deb -f $BUILD_DIR/armhf/packages/libzeplatform1_*.deb Version Depends &&
             lintian --fail-on error --suppress-tags no-copyright-file,no-changelog --tag-display-limit 0 \
               $BUILD_DIR/armhf/packages/*.deb"
}

step_system() {
  in_rootfs "ZE_VM_DEBS=/src/$BUILD_DIR/armhf/packages bash tests/system/run.sh /src/$BUILD_DIR/armhf"
}

step_shell() {
  in_rootfs 'exec bash -i'
}

steps=("$@")
if [ "${#steps[@]}" -eq 0 ]; then
  steps=(rootfs host armhf packages)
  [ "${ZE_SKIP_SYSTEM_TEST:-0}" = 1 ] || steps+=(system)
fi
for step in "${steps[@]}"; do
  case "$step" in
    rootfs|host|armhf|packages|system|shell) ;;
    *) die "unknown step '$step' (rootfs, host, armhf, packages, system, shell)" ;;
  esac
done
for step in "${steps[@]}"; do
  [ "$step" = rootfs ] || [ -f "$rootfs/.ready" ] || step_rootfs
  t0=$SECONDS
  "step_$step"
  log "$step done in $((SECONDS - t0)) s"
done
