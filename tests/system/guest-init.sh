#!/bin/busybox sh
# /init of the system-test VM (see run.sh). Runs every scenario against the
# real kernel's i2c-dev, the i2c-modelbus adapter (chip models served by
# i2c-modelbus-responder) and the PL061 GPIO controller,
# prints one "PASS ..." or "FAIL ..." line per check, then
# "SYSTEM-TEST: PASS" or "SYSTEM-TEST: FAIL", and powers the VM off.
# No "set -e": a failing step is a FAIL line, never the end of PID 1.

/bin/busybox --install -s /bin
export PATH=/usr/sbin:/usr/bin:/bin
# The Debian tools by full path: busybox has applets of the same names that
# must not stand in for them.
I2CGET=/usr/sbin/i2cget
I2CSET=/usr/sbin/i2cset
I2CTRANSFER=/usr/sbin/i2ctransfer
I2CDETECT=/usr/sbin/i2cdetect
FW_PRINTENV=/usr/bin/fw_printenv
FW_SETENV=/usr/bin/fw_setenv
GPIODETECT=/usr/bin/gpiodetect
# shellcheck disable=SC2034  # used by scenarios.sh
GPIOGET=/usr/bin/gpioget
GPIOSET=/usr/bin/gpioset
mount -t proc proc /proc
mount -t sysfs sysfs /sys
mount -t devtmpfs devtmpfs /dev
mount -t tmpfs tmpfs /tmp
mount -t tmpfs tmpfs /run
# The responder samples GPIO line levels from /sys/kernel/debug/gpio.
mount -t debugfs debugfs /sys/kernel/debug
# A responder that dies must not take init with it through a broken pipe.
trap '' PIPE
# Kernel messages (module taint notes and the like) stay off the console.
echo 1 > /proc/sys/kernel/printk

# SYSTEST_MODE (infra or full), SYSTEST_KERNEL and SYSTEST_DEBS (1: install
# /debs/*.deb first), written by run.sh.
# shellcheck disable=SC1091
. /etc/systest.conf

PASSED=0
FAILED=0
pass() { PASSED=$((PASSED + 1)); echo "PASS $*"; }
fail() { FAILED=$((FAILED + 1)); echo "FAIL $*"; }
info() { echo "INFO $*"; }

finish() {
  echo "INFO $PASSED passed, $FAILED failed"
  if [ "$FAILED" -eq 0 ] && [ "$PASSED" -gt 0 ]; then
    echo "SYSTEM-TEST: PASS"
  else
    echo "SYSTEM-TEST: FAIL"
  fi
  sync
  poweroff -f
  sleep 5
}

# is_number TEXT: decimal digits, or 0x and hex digits.
is_number() {
  case "$1" in
    0x*) digits=${1#0x} ;;
    *) digits=$1 ;;
  esac
  [ -n "$digits" ] || return 1
  case "$1" in
    0x*) case "$digits" in *[!0-9a-fA-F]*) return 1 ;; esac ;;
    *) case "$digits" in *[!0-9]*) return 1 ;; esac ;;
  esac
  return 0
}

# same WANT GOT: equal numbers (0x80 = 128) or, for anything else, equal text.
same() {
  if is_number "$1" && is_number "$2"; then
    [ "$(($1))" -eq "$(($2))" ]
  else
    [ "$1" = "$2" ]
  fi
}

# check_eq WHAT WANT GOT
check_eq() {
  if same "$2" "$3"; then pass "$1: $3"; else fail "$1: expected $2, got '$3'"; fi
}

# run_logged WHAT CMD...: runs CMD, keeps its stdout in $OUT; a non-zero
# status is a FAIL line with the output (stdout and stderr) shown.
run_logged() {
  what=$1
  shift
  OUT=$("$@" 2>/tmp/stderr)
  status=$?
  if [ "$status" -eq 0 ]; then
    pass "$what: exit 0"
    return 0
  fi
  fail "$what: exit $status"
  echo "$OUT" | sed 's/^/      | /'
  sed 's/^/      | /' /tmp/stderr
  return 1
}

# --- i2c-modelbus ----------------------------------------------------------------
BUS=
MODELBUS_PATH=
# As i2c-modelbus.h has it.
MODELBUS_MAX_TIMEOUT_MS=5000
# What the adapter's next transfer waits for its reply, in ms.
MODELBUS_TIMEOUT=/sys/module/i2c_modelbus/parameters/timeout_ms
# load_modelbus i2c|smbus [PARAMETER...]: a fresh i2c-modelbus adapter,
# offering plain I2C transfers or (smbus) only what the core emulates from
# them; sets BUS once /dev/i2c-$BUS is there.
load_modelbus() {
  BUS=
  MODELBUS_PATH=$1
  shift
  smbus_only=0
  [ "$MODELBUS_PATH" = smbus ] && smbus_only=1
  insmod /usr/lib/modules/i2c-modelbus.ko smbus_only=$smbus_only "$@" || return 1
  for adapter in /sys/bus/i2c/devices/i2c-*; do
    [ "$(cat "$adapter/name" 2>/dev/null)" = i2c-modelbus ] && BUS=${adapter##*/i2c-}
  done
  [ -n "$BUS" ] || return 1
  tries=0
  while { [ ! -c "/dev/i2c-$BUS" ] || [ ! -c /dev/i2c-modelbus ]; } && [ "$tries" -lt 100 ]; do
    usleep 50000
    tries=$((tries + 1))
  done
  [ -c "/dev/i2c-$BUS" ] && [ -c /dev/i2c-modelbus ]
}

unload_modelbus() {
  if rmmod i2c_modelbus; then pass "[$MODELBUS_PATH] i2c-modelbus unloads"; else fail "[$MODELBUS_PATH] i2c-modelbus does not unload"; fi
}

# --- PL061 GPIO controller ------------------------------------------------------
GPIOCHIP=
GPIOBASE=
find_gpiochip() {
  # gpiodetect: "gpiochip0 [9030000.pl061] (8 lines)"
  GPIOCHIP=$("$GPIODETECT" 2>/dev/null | sed -n 's/^\(gpiochip[0-9]*\) \[[^]]*pl061\].*/\1/p' | head -n 1)
  for chip in /sys/class/gpio/gpiochip*; do
    case "$(cat "$chip/label" 2>/dev/null)" in *pl061) GPIOBASE=$(cat "$chip/base") ;; esac
  done
  [ -n "$GPIOCHIP" ] && [ -n "$GPIOBASE" ]
}

# gpio_set OFFSET LEVEL: drives a PL061 line and lets it go. The gpiod tools
# of libgpiod 2 name the chip with -c and hold the line unless -t 0.
gpio_set() {
  case "$("$GPIOSET" --version 2>/dev/null)" in
    *" v1."*) "$GPIOSET" "$GPIOCHIP" "$1=$2" ;;
    *) "$GPIOSET" -c "$GPIOCHIP" -t 0 "$1=$2" ;;
  esac
}

# line_state OFFSET: "in" or "out 0" / "out 1", read through the sysfs
# interface, which takes the line without changing its direction or level.
line_state() {
  n=$((GPIOBASE + $1))
  echo "$n" > /sys/class/gpio/export 2>/dev/null || { echo "busy"; return; }
  dir=$(cat "/sys/class/gpio/gpio$n/direction")
  if [ "$dir" = out ]; then
    echo "out $(cat "/sys/class/gpio/gpio$n/value")"
  else
    echo "$dir"
  fi
  echo "$n" > /sys/class/gpio/unexport
}

# --- U-Boot environment store -------------------------------------------------------
# make_env_store ROOT: ROOT/etc/fw_env.config with two redundant 16 KiB copies,
# each holding an empty environment with a valid CRC-32 (gzip's trailer
# carries the CRC-32 of its input), flags 1 and 0.
make_env_store() {
  root=$1
  size=16384
  mkdir -p "$root/etc" "$root/var"
  head -c $((size - 5)) /dev/zero > /tmp/env-data
  env_copy "$root/var/uboot.env" '\001'
  env_copy "$root/var/uboot-redund.env" '\000'
  rm -f /tmp/env-data
  printf '%s 0x0 0x4000\n%s 0x0 0x4000\n' "$root/var/uboot.env" "$root/var/uboot-redund.env" \
    > "$root/etc/fw_env.config"
}
env_copy() {  # env_copy FILE FLAG-ESCAPE
  gzip -c < /tmp/env-data | tail -c 8 | head -c 4 > "$1"
  # shellcheck disable=SC2059  # the flag byte, written as an octal escape
  printf "$2" >> "$1"
  cat /tmp/env-data >> "$1"
}

env_value() {  # env_value ROOT NAME
  "$FW_PRINTENV" -c "$1/etc/fw_env.config" -n "$2" 2>/dev/null
}

# --- the VM itself ---------------------------------------------------------------
infra() {
  check_eq "kernel release" "$SYSTEST_KERNEL" "$(uname -r)"
  # What boot said is not ours to judge (check_dmesg).
  dmesg -c >/dev/null
  if insmod /usr/lib/modules/i2c-dev.ko; then pass "i2c-dev loaded"; else fail "i2c-dev did not load"; fi
  for path in i2c smbus; do
    # A timeout of an hour asked for at load time.
    if load_modelbus "$path" timeout_ms=3600000; then
      pass "[$path] i2c-modelbus on /dev/i2c-$BUS"
    else
      fail "[$path] i2c-modelbus did not come up"
      return
    fi
    check_eq "[$path] effective timeout after timeout_ms=3600000" "$MODELBUS_MAX_TIMEOUT_MS" "$(cat "$MODELBUS_TIMEOUT")"
    funcs=$("$I2CDETECT" -F "$BUS" 2>/dev/null)
    want=yes
    [ "$path" = smbus ] && want=no
    check_eq "[$path] adapter offers plain I2C transfers" "$want" "$(echo "$funcs" | awk 'NF == 2 && $1 == "I2C" { print $2 }')"
    check_eq "[$path] adapter offers SMBus I2C block read/write" "yes yes" "$(echo "$funcs" | awk '$1 == "I2C" && $2 == "Block" && NF == 4 { printf "%s%s", sep, $4; sep = " " }')"
    # Nobody serves the adapter yet: transfers fail, nothing hangs.
    if "$I2CGET" -y "$BUS" 0x74 0x01 b >/dev/null 2>&1; then
      fail "[$path] a transfer without a responder succeeded"
    else
      pass "[$path] a transfer without a responder fails"
    fi
    unload_modelbus
  done

  if find_gpiochip; then
    pass "PL061 is $GPIOCHIP (sysfs base $GPIOBASE)"
  else
    fail "no PL061 GPIO chip"
    return
  fi
  check_eq "PL061 line 4 at boot" in "$(line_state 4)"
  gpio_set 4 1
  check_eq "PL061 line 4 after gpioset 4=1" "out 1" "$(line_state 4)"
  gpio_set 4 0
  check_eq "PL061 line 4 after gpioset 4=0" "out 0" "$(line_state 4)"

  make_env_store /tmp/envcheck
  if out=$("$FW_PRINTENV" -c /tmp/envcheck/etc/fw_env.config 2>&1) && [ -z "$out" ]; then
    pass "blank environment store is valid and empty"
  else
    fail "blank environment store: fw_printenv says '$out'"
  fi
  "$FW_SETENV" -c /tmp/envcheck/etc/fw_env.config vcom_value 17
  check_eq "fw_setenv/fw_printenv round trip" 17 "$(env_value /tmp/envcheck vcom_value)"
}

# Nothing at error level or above, and no oops or warning splat, from
# loading, using and unloading the modules (the out-of-tree taint notices are
# expected).
check_dmesg() {
  bad=$(dmesg -r | grep -E '^<[0-3]>|WARNING:|BUG:|Oops|Call trace|i2c-modelbus|i2c_modelbus' |
        grep -v 'taints kernel' | grep -v 'module verification failed')
  if [ -z "$bad" ]; then
    pass "dmesg clean after the modules were loaded, used and unloaded"
  else
    fail "dmesg:"
    echo "$bad" | sed 's/^/      | /'
  fi
}

info "kernel $(uname -r) on $(sed -n 's/^model name[[:space:]]*: //p' /proc/cpuinfo | head -n 1)"
infra
if [ "$SYSTEST_MODE" = full ] && [ "$SYSTEST_DEBS" = 1 ]; then
  # The project's packages, as a target installs them; busybox's dpkg knows
  # none of the runtime libraries' packages, which the initramfs carries.
  for deb in /debs/*.deb; do
    if dpkg -i -F depends "$deb" >/tmp/dpkg.log 2>&1; then
      pass "dpkg -i ${deb#/debs/}"
    else
      fail "dpkg -i ${deb#/debs/}"
      sed 's/^/      | /' /tmp/dpkg.log
    fi
  done
fi
if [ "$SYSTEST_MODE" = full ]; then
  # shellcheck disable=SC1091
  . /scenarios.sh
fi
check_dmesg
finish
