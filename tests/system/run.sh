#!/usr/bin/env bash
# System test on a real 32-bit ARM Linux kernel.
#
# Boots Debian's armhf kernel (armmp flavour) under qemu-system-arm on the
# "virt" machine with a busybox initramfs that carries the armhf vcomctl, our
# libraries and their runtime libraries, i2c-modelbus-responder, i2c-tools,
# fw_printenv, the gpiod tools, i2c-dev and the i2c-modelbus module
# (tools/i2c-modelbus) built for that exact kernel. The guest's /init
# (guest-init.sh beside this file) plays every chip scenario against the
# chip models behind i2c-modelbus and the PL061 GPIO controller, prints one
# PASS/FAIL line per check and a closing "SYSTEM-TEST: PASS" or
# "SYSTEM-TEST: FAIL", and powers the VM off.
#
# Usage: tests/system/run.sh [--infra-only] [ARMHF_BUILD_DIR]
#   ARMHF_BUILD_DIR   armhf build tree (default: <repo>/build/armhf), made by
#                     cmake --preset armhf && cmake --build --preset armhf
#   --infra-only      no vcomctl needed: proves the VM itself (kernel, modules,
#                     i2c-modelbus through i2c-dev, GPIO chip, fw_printenv)
# Environment:
#   ZE_VM_CACHE       download and build cache (default ~/.cache/libzeic_vcom-vm)
#   ZE_VM_KERNEL      Debian kernel version to use, e.g. 6.1.176-1 (default: the
#                     armhf candidate of linux-image-armmp, else the newest cached)
#   ZE_VM_TIMEOUT     seconds the VM may run (default 300)
#   ZE_VM_KEEP        1: keep the work directory (initramfs, console log)
#   ZE_VM_DEBS        directory of armhf .debs of the project: installed with
#                     dpkg -i in the guest, whose /usr/bin/vcomctl is then the
#                     installed one (default: vcomctl and libraries from the
#                     build tree)
#
# Exit status: 0 only when the guest reported SYSTEM-TEST: PASS and no check
# failed.
set -euo pipefail

here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
repo=$(cd "$here/../.." && pwd)
cache=${ZE_VM_CACHE:-$HOME/.cache/libzeic_vcom-vm}
vm_timeout=${ZE_VM_TIMEOUT:-300}
mode=full
build=$repo/build/armhf

for arg in "$@"; do
  case "$arg" in
    --infra-only) mode=infra ;;
    -h|--help) sed -n '2,/^set /{/^#/p}' "$0" | sed 's/^# \{0,1\}//'; exit 0 ;;
    -*) echo "run.sh: unknown option '$arg'" >&2; exit 2 ;;
    *) build=$arg ;;
  esac
done

log() { printf 'system-test: %s\n' "$*" >&2; }
die() { printf 'system-test: error: %s\n' "$*" >&2; exit 1; }
as_root() { if [ "$(id -u)" -eq 0 ]; then "$@"; else sudo "$@"; fi; }

started=$SECONDS
export DEBIAN_FRONTEND=noninteractive
MACH=arm-linux-gnueabihf

# --- host tools -------------------------------------------------------------
# The kernel's cross compiler and kbuild's libraries follow the kernel
# (install_missing, once its version is known).
HOST_PKGS=(qemu-system-arm cpio make xz-utils gzip "binutils-$MACH")
apt_updated=0
apt_update() {
  [ "$apt_updated" -eq 1 ] && return 0
  apt_updated=1
  # With armhf enabled one index may be out of sync and apt-get update exit
  # 100 although the indexes it did fetch are fine to use.
  as_root apt-get update -qq || log "apt-get update reported an error; going on with the indexes there are"
}
install_missing() {
  local p missing=()
  for p in "$@"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
  done
  [ "${#missing[@]}" -gt 0 ] || return 0
  log "installing ${missing[*]}"
  apt_update
  as_root apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
}
install_missing "${HOST_PKGS[@]}"
if ! dpkg --print-foreign-architectures | grep -qx armhf; then
  as_root dpkg --add-architecture armhf
  apt_updated=0
  apt_update
fi

mkdir -p "$cache"
cache=$(cd "$cache" && pwd)

# apt-get download into a directory (the _apt user must be able to write it).
download() {
  local dir=$1; shift
  mkdir -p "$dir"
  chmod 0777 "$dir"
  (cd "$dir" && apt-get download -q -o APT::Sandbox::User=root "$@" >/dev/null) ||
    { apt_update; (cd "$dir" && apt-get download -q -o APT::Sandbox::User=root "$@" >/dev/null); }
}

# --- kernel: image, i2c-dev and the headers to build i2c-modelbus -------------
# All pieces are pinned to one Debian version: the image and the armmp headers
# (armhf), the common headers (all) and kbuild (host).
kernel_version=${ZE_VM_KERNEL:-}
if [ -z "$kernel_version" ]; then
  candidate() { apt-cache policy linux-image-armmp:armhf 2>/dev/null | sed -n 's/^ *Candidate: //p'; }
  kernel_version=$(candidate)
  if [ -z "$kernel_version" ] || [ "$kernel_version" = "(none)" ]; then
    apt_update
    kernel_version=$(candidate)
  fi
  if [ -z "$kernel_version" ] || [ "$kernel_version" = "(none)" ]; then
    kernel_version=$(find "$cache" -maxdepth 1 -name 'kernel-*' -printf '%f\n' 2>/dev/null |
                     sed 's/^kernel-//' | sort -V | tail -n 1)
    [ -n "$kernel_version" ] || die "cannot tell which armhf kernel to use (no apt index, no cache)"
  fi
fi
kdir=$cache/kernel-$kernel_version
if [ ! -f "$kdir/ready" ] || [ ! -f "$kdir/compiler" ]; then
  log "preparing kernel $kernel_version in $kdir"
  abi=$(apt-cache show "linux-image-armmp:armhf=$kernel_version" 2>/dev/null |
        sed -n 's/^Depends:.*linux-image-\([^ ,]*\)-armmp\([ ,].*\)\{0,1\}$/\1/p' | head -n 1)
  [ -n "$abi" ] || die "apt knows no linux-image-armmp:armhf $kernel_version"
  # The headers name the compiler the kernel was built with (Debian 12:
  # linux-compiler-gcc-12-arm, 13: gcc-14) and their kbuild package
  # (linux-kbuild-6.1, linux-kbuild-6.12.N+deb13).
  header_deps=$(apt-cache show "linux-headers-$abi-armmp:armhf=$kernel_version" 2>/dev/null |
                sed -n 's/^Depends: //p' | head -n 1 | tr ',|' '\n' | sed 's/^ *//; s/[ :].*//')
  compiler=$(echo "$header_deps" | sed -n 's/^\(linux-compiler-\)\{0,1\}gcc-\([0-9]*\)\(-arm\)\{0,1\}$/\2/p' | head -n 1)
  kbuild=$(echo "$header_deps" | grep '^linux-kbuild-' | head -n 1)
  if [ -z "$compiler" ] || [ -z "$kbuild" ]; then
    die "cannot tell the compiler and kbuild of linux-headers-$abi-armmp $kernel_version"
  fi
  rm -rf "$kdir"
  mkdir -p "$kdir"
  echo "gcc-$compiler-$MACH" > "$kdir/compiler"
  apt-cache depends --no-recommends --no-suggests "$kbuild=$kernel_version" 2>/dev/null |
    sed -n 's/^ *Depends: \([^ <:]*\).*/\1/p' > "$kdir/kbuild-needs"
  download "$kdir/debs" \
    "linux-image-$abi-armmp:armhf=$kernel_version" \
    "linux-headers-$abi-armmp:armhf=$kernel_version" \
    "linux-headers-$abi-common=$kernel_version" \
    "$kbuild=$kernel_version"
  root=$kdir/root
  mkdir -p "$root"
  for deb in "$kdir"/debs/linux-image-* "$kdir"/debs/linux-headers-* "$kdir"/debs/linux-kbuild-*; do
    dpkg-deb -x "$deb" "$root"
  done
  release=$abi-armmp
  cp "$root/boot/vmlinuz-$release" "$kdir/vmlinuz"
  cp "$root/boot/config-$release" "$kdir/config"
  # /lib/modules, plain, on Debian 12; /usr/lib/modules, xz-compressed, on 13.
  module=$(find "$root" -path "*/modules/$release/*" -name 'i2c-dev.ko*' | head -n 1)
  [ -n "$module" ] || die "linux-image-$abi-armmp has no i2c-dev module"
  case "$module" in
    *.xz) xz -dc "$module" > "$kdir/i2c-dev.ko" ;;
    *) cp "$module" "$kdir/i2c-dev.ko" ;;
  esac
  rm -rf "$root/lib/modules" "$root/usr/lib/modules"
  echo "$release" > "$kdir/release"

  # The armmp headers' Makefile includes the common headers by absolute path.
  sed -i "s#^include /usr/src/#include $root/usr/src/#" "$root/usr/src/linux-headers-$release/Makefile"
  touch "$kdir/ready"
fi
release=$(cat "$kdir/release")
# shellcheck disable=SC2046  # one package name a line
install_missing $(cat "$kdir/compiler" "$kdir/kbuild-needs")
headers=$kdir/root/usr/src/linux-headers-$release

# i2c-modelbus.ko, rebuilt whenever its source changes.
mbsrc=$repo/tools/i2c-modelbus
mbdir=$kdir/i2c-modelbus-$(cat "$mbsrc/Kbuild" "$mbsrc"/i2c-modelbus.[ch] | sha256sum | cut -c1-16)
if [ ! -f "$mbdir/i2c-modelbus.ko" ]; then
  log "building i2c-modelbus.ko for $release"
  rm -rf "$kdir"/i2c-modelbus-*
  mkdir -p "$mbdir"
  cp "$mbsrc/Kbuild" "$mbsrc"/i2c-modelbus.[ch] "$mbdir/"
  make -s -C "$headers" M="$mbdir" ARCH=arm CROSS_COMPILE=$MACH- W=1 modules >"$mbdir/build.log" 2>&1 ||
    { cat "$mbdir/build.log" >&2; rm -f "$mbdir/i2c-modelbus.ko"; die "i2c-modelbus did not build"; }
  if grep -q 'warning:' "$mbdir/build.log"; then
    cat "$mbdir/build.log" >&2
    rm -f "$mbdir/i2c-modelbus.ko"
    die "i2c-modelbus builds with warnings"
  fi
  magic=$($MACH-readelf -p .modinfo "$mbdir/i2c-modelbus.ko" | sed -n 's/.*vermagic=\([^ ]*\).*/\1/p')
  [ "$magic" = "$release" ] || die "i2c-modelbus.ko is for '$magic', the kernel is $release"
fi

# --- guest tools (armhf, unpacked, never installed on the host) ---------------
GUEST_TOOLS=(busybox-static i2c-tools libubootenv-tool gpiod)
# The library packages the tools need, transitively, by the base's names
# (libgpiod2 on Debian 12, libgpiod3 on 13); the C library and its runtime
# come from the host's armhf multiarch.
guest_libraries() {
  local todo=("$@") seen=" " package dep
  while [ "${#todo[@]}" -gt 0 ]; do
    package=${todo[0]}
    todo=("${todo[@]:1}")
    for dep in $(apt-cache depends --no-recommends --no-suggests --no-conflicts --no-breaks \
                   --no-replaces --no-enhances "$package:armhf" 2>/dev/null |
                 sed -n 's/^ *|\{0,1\}Depends: \(z\{0,1\}lib[^ <>:]*\).*/\1/p'); do
      case "$seen" in *" $dep "*) continue ;; esac
      seen+="$dep "
      case "$dep" in libc6|libgcc-s1|libstdc++6) continue ;; esac
      echo "$dep"
      todo+=("$dep")
    done
  done
}
gdir=$cache/guest-debs
if [ ! -f "$gdir/ready" ]; then
  mapfile -t GUEST_DEBS < <(printf '%s\n' "${GUEST_TOOLS[@]}"; guest_libraries "${GUEST_TOOLS[@]}")
  log "fetching armhf guest tools: ${GUEST_DEBS[*]}"
  rm -rf "$gdir"
  download "$gdir/debs" "${GUEST_DEBS[@]/%/:armhf}"
  mkdir -p "$gdir/root"
  for deb in "$gdir"/debs/*.deb; do dpkg-deb -x "$deb" "$gdir/root"; done
  touch "$gdir/ready"
fi
groot=$gdir/root

# --- what to test -------------------------------------------------------------
vcomctl=
responder=
debs=${ZE_VM_DEBS:-}
if [ "$mode" = full ]; then
  [ -d "$build" ] || die "no armhf build at $build (cd $repo && cmake --preset armhf && cmake --build --preset armhf)"
  build=$(cd "$build" && pwd)
  vcomctl=$build/tools/vcomctl/vcomctl
  responder=$build/tools/i2c-modelbus/i2c-modelbus-responder
  for program in "$vcomctl" "$responder"; do
    [ -x "$program" ] || die "no $program (cd $repo && cmake --preset armhf && cmake --build --preset armhf)"
    $MACH-readelf -h "$program" | grep -q 'Machine:.*ARM$' || die "$program is not a 32-bit ARM program"
  done
  if [ -n "$debs" ]; then
    debs=$(cd "$debs" && pwd)
    compgen -G "$debs/*.deb" >/dev/null || die "ZE_VM_DEBS=$debs holds no .deb"
  fi
fi

# --- initramfs -------------------------------------------------------------------
work=$(mktemp -d "${TMPDIR:-/tmp}/ze-systest.XXXXXX")
# shellcheck disable=SC2317  # called through the EXIT trap
cleanup() { if [ "${ZE_VM_KEEP:-0}" = 1 ]; then log "work directory kept: $work"; else rm -rf "$work"; fi; }
trap cleanup EXIT
ird=$work/initramfs
mkdir -p "$ird"/{bin,sbin,etc,proc,sys,dev,tmp,run,root,usr/bin,usr/sbin,usr/lib/$MACH,usr/lib/modules}
ln -s usr/lib "$ird/lib"

# The guest's /init links busybox's applets at boot (busybox --install);
# the package has it in /bin on Debian 12, in /usr/bin on 13.
busybox=$(find "$groot/bin" "$groot/usr/bin" -name busybox 2>/dev/null | head -n 1) || true
[ -n "$busybox" ] || die "busybox-static brought no busybox"
cp "$busybox" "$ird/bin/busybox"

guest_programs=()
add_program() {  # add_program SOURCE GUEST_PATH
  install -D -m 0755 "$1" "$ird$2"
  guest_programs+=("$ird$2")
}
for tool in i2cget i2cset i2cdetect i2ctransfer; do add_program "$groot/usr/sbin/$tool" "/usr/sbin/$tool"; done
for tool in fw_printenv fw_setenv; do add_program "$groot/usr/bin/$tool" "/usr/bin/$tool"; done
for tool in gpiodetect gpioinfo gpioget gpioset; do add_program "$groot/usr/bin/$tool" "/usr/bin/$tool"; done

libdirs=()
declare -A seen=()   # libraries the guest has or will have
deb_elves=()
if [ -n "$debs" ]; then
  # The guest installs them (guest-init.sh); here they are only unpacked to
  # learn which runtime libraries they need and which they bring.
  mkdir -p "$ird/debs" "$ird/var/lib/dpkg/info"
  touch "$ird/var/lib/dpkg/status"
  cp "$debs"/*.deb "$ird/debs/"
  debroot=$work/debroot
  for deb in "$debs"/*.deb; do dpkg-deb -x "$deb" "$debroot"; done
  while IFS= read -r -d '' file; do
    $MACH-readelf -h "$file" >/dev/null 2>&1 || continue
    deb_elves+=("$file")
    seen[${file##*/}]=1
  done < <(find "$debroot" -type f -print0)
  [ -f "$debroot/usr/bin/vcomctl" ] || die "no package in $debs installs /usr/bin/vcomctl"
  libdirs+=("$(dirname "$(find "$debroot" -name 'libzeplatform.so*' | head -n 1)")")
elif [ -n "$vcomctl" ]; then
  add_program "$vcomctl" /usr/bin/vcomctl
  # Our libraries, with their SONAME links, beside the system ones.
  while IFS= read -r lib; do
    cp -a "$lib" "$ird/usr/lib/$MACH/"
    libdirs+=("$(dirname "$lib")")
  done < <(find "$build" -path '*/CMakeFiles' -prune -o \( -name 'libzeplatform*.so*' -o -name 'libzeic_vcom.so*' \) -print)
fi
[ -n "$responder" ] && add_program "$responder" /usr/bin/i2c-modelbus-responder
libdirs+=("/usr/lib/$MACH" "/lib/$MACH" "$groot/usr/lib/$MACH" "$groot/lib/$MACH" "/usr/$MACH/lib")

# Runtime libraries: follow the DT_NEEDED entries of every program and library.
find_lib() {
  local d
  for d in "${libdirs[@]}"; do
    if [ -e "$d/$1" ]; then echo "$d/$1"; return 0; fi
  done
  return 1
}
queue=("${guest_programs[@]}" "${deb_elves[@]}")
for lib in "$ird/usr/lib/$MACH"/*.so*; do [ -e "$lib" ] && queue+=("$lib"); done
while [ "${#queue[@]}" -gt 0 ]; do
  elf=${queue[0]}
  queue=("${queue[@]:1}")
  for need in $($MACH-readelf -d "$elf" | sed -n 's/.*(NEEDED).*\[\(.*\)\]/\1/p'); do
    [ -n "${seen[$need]:-}" ] && continue
    seen[$need]=1
    [ -e "$ird/usr/lib/$MACH/$need" ] && continue
    src=$(find_lib "$need") || die "runtime library $need (needed by ${elf#"$ird"}) not found in ${libdirs[*]}"
    cp -L "$src" "$ird/usr/lib/$MACH/$need"
    queue+=("$ird/usr/lib/$MACH/$need")
  done
done
loader=$(find_lib ld-linux-armhf.so.3) || die "no armhf dynamic loader (libc6:armhf)"
cp -L "$loader" "$ird/usr/lib/$MACH/ld-linux-armhf.so.3"
ln -s $MACH/ld-linux-armhf.so.3 "$ird/usr/lib/ld-linux-armhf.so.3"

cp "$kdir/i2c-dev.ko" "$mbdir/i2c-modelbus.ko" "$ird/usr/lib/modules/"
install -m 0755 "$here/guest-init.sh" "$ird/init"
install -m 0644 "$here/scenarios.sh" "$ird/scenarios.sh"
printf 'SYSTEST_MODE=%s\nSYSTEST_KERNEL=%s\nSYSTEST_DEBS=%s\n' "$mode" "$release" "${debs:+1}" > "$ird/etc/systest.conf"
echo 'root:x:0:0:root:/root:/bin/sh' > "$ird/etc/passwd"

(cd "$ird" && find . -print0 | LC_ALL=C sort -z | cpio -o -0 -H newc --quiet -R 0:0) | gzip -1 > "$work/initramfs.cpio.gz"
log "initramfs: $(du -h "$work/initramfs.cpio.gz" | cut -f1), kernel $release ($kernel_version), mode $mode"
# Which libgpiod generation drives the lines in the guest (libgpiod.so.2: 1.x, .so.3: 2.x).
platform_lib=$(find "$ird/usr/lib/$MACH" "${debroot:-$ird/usr/lib/$MACH}" -name 'libzeplatform.so.*' -type f 2>/dev/null | head -n 1) || true
[ -z "$platform_lib" ] ||
  echo "INFO libzeplatform.so NEEDED: $($MACH-readelf -d "$platform_lib" | sed -n 's/.*(NEEDED).*\[\(.*\)\]/\1/p' | tr '\n' ' ')"

# --- boot -----------------------------------------------------------------------
console=$work/console.log
log "booting qemu-system-arm (virt, cortex-a15), at most ${vm_timeout}s"
set +e
timeout --kill-after=10 "$vm_timeout" qemu-system-arm \
  -M virt,highmem=off -cpu cortex-a15 -smp 1 -m 512 \
  -nographic -no-reboot -nic none \
  -kernel "$kdir/vmlinuz" -initrd "$work/initramfs.cpio.gz" \
  -append "console=ttyAMA0 panic=1 quiet loglevel=3 rdinit=/init" \
  </dev/null >"$console" 2>&1
qemu_status=$?
set -e
cp "$console" "$cache/last-console.log"
tr -d '\r' < "$console" > "$console.txt"

# The guest's check lines, with the output of failed commands ("      | ")
# (qemu itself exits 0 whatever the guest saw).
grep -E '^(PASS|FAIL|INFO|SYSTEM-TEST:|      \| )' "$console.txt" || true
passed=$(grep -c '^PASS ' "$console.txt" || true)
failed=$(grep -c '^FAIL ' "$console.txt" || true)
elapsed=$((SECONDS - started))
if grep -qx 'SYSTEM-TEST: PASS' "$console.txt" && ! grep -q 'SYSTEM-TEST: FAIL' "$console.txt" &&
   [ "$failed" -eq 0 ] && [ "$passed" -gt 0 ]; then
  echo "system: $passed passed, $failed failed"
  log "PASS in ${elapsed}s (console: $cache/last-console.log)"
  exit 0
fi
if ! grep -q '^SYSTEM-TEST: ' "$console.txt"; then
  if [ "$qemu_status" -eq 124 ] || [ "$qemu_status" -eq 137 ]; then
    log "the VM did not finish within ${vm_timeout}s; console tail:"
  else
    log "the guest gave no verdict (qemu exit $qemu_status); console tail:"
  fi
  tail -n 40 "$console.txt" >&2
  failed=$((failed + 1))
fi
echo "system: $passed passed, $failed failed"
log "FAIL in ${elapsed}s (console: $cache/last-console.log)"
exit 1
