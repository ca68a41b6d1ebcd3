# vcomctl on the Linux hardware backend, one scenario per chip. Sourced by
# guest-init.sh after the VM checks; uses its helpers (load_stub, reg,
# setreg, line_state, make_env_store, check_eq, run_logged, pass, fail).
#
# Each scenario loads a fresh i2c-stub (every register 0), writes a platform
# root ($ROOT/etc/zeplatform.conf selecting the linux backend on the stub's
# bus, $ROOT/obdata/model/config/board.ini naming the chip), drives vcomctl
# and reads the chip's registers back with i2cget: the values must be what
# the chip's register protocol puts there, whatever vcomctl itself reports.

VCOMCTL=/usr/bin/vcomctl
GATE_GPIO=168   # GpioAddr 0xA8, the AUO access gate
GATE_LINE=4     # on the PL061; line 3 is the power key

# make_root DIR TYPEIDX VCOMADDR GPIOSTATUS
make_root() {
  rm -rf "$1"
  mkdir -p "$1/etc" "$1/obdata/model/config"
  cat > "$1/etc/zeplatform.conf" <<EOF
; system-test board: the VCOM chip sits on i2c-stub, the gate on the PL061
[soc]
backend = linux
[i2c]
buses = $STUB_BUS
[gpio]
$GATE_GPIO = $GPIOCHIP:$GATE_LINE
EOF
  write_board "$@"
}

# write_board DIR TYPEIDX VCOMADDR GPIOSTATUS
write_board() {
  cat > "$1/obdata/model/config/board.ini" <<EOF
[VCOM]
TypeIdx = $2
I2cBus = $STUB_BUS
VcomAddr = $3
GpioAddr = $GATE_GPIO
GpioStatus = $4
LdmFlag = 0
I2cSwitchType = 0
EOF
}

# vcom WHAT ROOT ARGS...: vcomctl -r ROOT ARGS..., which must exit 0.
vcom() {
  what=$1
  root=$2
  shift 2
  run_logged "$what" "$VCOMCTL" -r "$root" "$@"
}

# exit_status CMD...: the command's exit status, its output dropped.
exit_status() {
  "$@" >/dev/null 2>&1
  echo $?
}

# The value of the last "read: 128 (0x80)" line of the last vcomctl run.
last_read() { echo "$OUT" | sed -n 's/^read: \([0-9][0-9]*\).*/\1/p' | tail -n 1; }

# Fails when the run's JSON report does not name the linux backend: a broken
# zeplatform.conf must not pass through a simulated panel unnoticed.
check_backend() {  # check_backend WHAT ROOT
  if run_logged "$1: --json read" "$VCOMCTL" --json -r "$2" read; then
    case "$OUT" in
      *'"backend":"linux"'*) pass "$1: backend is linux" ;;
      *) fail "$1: backend is not linux: $OUT" ;;
    esac
  fi
}

scenario_auo() {
  echo "INFO --- AUO (TypeIdx 1, 0xE8, access gate GPIO $GATE_GPIO = $GPIOCHIP:$GATE_LINE)"
  load_stub 0x74 || { fail "auo: i2c-stub did not load"; return; }
  ROOT=/tmp/auo
  make_root "$ROOT" 1 0xE8 0
  check_backend auo "$ROOT"
  # A request as input leaves the line undriven, so the state after vcomctl
  # shows what vcomctl did to it.
  "$GPIOGET" "$GPIOCHIP" "$GATE_LINE" >/dev/null
  check_eq "auo: gate line before vcomctl" in "$(line_state "$GATE_LINE")"

  setreg 0x74 0x01 0x3c
  vcom "auo: read" "$ROOT" read && check_eq "auo: read of preset reg 0x01=0x3c" 60 "$(last_read)"
  # GpioStatus 0: the gate opens at 0 and closes back to 1.
  check_eq "auo: gate line after read (GpioStatus 0)" "out 1" "$(line_state "$GATE_LINE")"

  vcom "auo: update 0x80 read" "$ROOT" update 0x80 read && check_eq "auo: read after update" 128 "$(last_read)"
  check_eq "auo: reg 0x01 after update 0x80" 0x80 "$(reg 0x74 0x01)"
  vcom "auo: save 0x80" "$ROOT" save 0x80
  check_eq "auo: reg 0x00 (save command) after save" 0x0a "$(reg 0x74 0x00)"
  check_eq "auo: reg 0x01 after save" 0x80 "$(reg 0x74 0x01)"

  # GpioStatus 1: the gate opens at 1 and closes back to 0.
  write_board "$ROOT" 1 0xE8 1
  vcom "auo: update 0x2a (GpioStatus 1)" "$ROOT" update 0x2a
  check_eq "auo: reg 0x01 after update 0x2a" 0x2a "$(reg 0x74 0x01)"
  check_eq "auo: gate line after update (GpioStatus 1)" "out 0" "$(line_state "$GATE_LINE")"

  # No chip at the board's address: the read must fail (exit 1), not report
  # 0. A failed transfer leaves the gate open, at GpioStatus, which shows the
  # level the gate is driven to during an access.
  write_board "$ROOT" 1 0xE6 1
  check_eq "auo: exit status of a read from an address with no chip (0xE6)" 1 \
    "$(exit_status "$VCOMCTL" -r "$ROOT" read)"
  check_eq "auo: gate line left open after the failed read (GpioStatus 1)" "out 1" \
    "$(line_state "$GATE_LINE")"
}

scenario_boe() {
  echo "INFO --- BOE (TypeIdx 4, 0xE0; a second chip at 0x74 must stay untouched)"
  load_stub 0x70 0x74 || { fail "boe: i2c-stub did not load"; return; }
  ROOT=/tmp/boe
  make_root "$ROOT" 4 0xE0 1
  check_backend boe "$ROOT"

  setreg 0x70 0x25 0x02
  setreg 0x70 0x26 0x90
  vcom "boe: read" "$ROOT" read && check_eq "boe: read of preset 0x25=0x02 0x26=0x90" 255 "$(last_read)"
  check_eq "boe: reg 0xff (control) after read" 0x01 "$(reg 0x70 0xff)"

  vcom "boe: update 150 read" "$ROOT" update 150 read && check_eq "boe: read after update" 150 "$(last_read)"
  check_eq "boe: reg 0x25 after update 150 ((150+401)>>8)" 0x02 "$(reg 0x70 0x25)"
  check_eq "boe: reg 0x26 after update 150 ((150+401)&0xff)" 0x27 "$(reg 0x70 0x26)"
  vcom "boe: update 0 read" "$ROOT" update 0 read && check_eq "boe: read after update 0" 0 "$(last_read)"
  check_eq "boe: reg 0x25 after update 0" 0x01 "$(reg 0x70 0x25)"
  check_eq "boe: reg 0x26 after update 0" 0x91 "$(reg 0x70 0x26)"

  vcom "boe: save 0" "$ROOT" save 0
  check_eq "boe: reg 0xff (control) after save" 0x40 "$(reg 0x70 0xff)"
  check_eq "boe: reg 0x26 after save" 0x91 "$(reg 0x70 0x26)"
  check_eq "boe: other chip 0x74 reg 0x25/0x26/0xff" "0x00 0x00 0x00" \
    "$(reg 0x74 0x25) $(reg 0x74 0x26) $(reg 0x74 0xff)"
}

scenario_kd733() {
  echo "INFO --- KD733 (TypeIdx 8, 0xE8, reference code 0x1F0)"
  load_stub 0x74 || { fail "kd733: i2c-stub did not load"; return; }
  ROOT=/tmp/kd733
  make_root "$ROOT" 8 0xE8 1
  check_backend kd733 "$ROOT"

  # Reference code R = (0x2B & 3) << 8 | 0x2C = 0x1F0; bits 7..2 of 0x2B do
  # not count.
  setreg 0x74 0x2b 0xfd
  setreg 0x74 0x2c 0xf0
  vcom "kd733: update 0x30 read" "$ROOT" update 0x30 read && check_eq "kd733: read after update" 48 "$(last_read)"
  # R + 0x30 = 0x220 over 10 bits.
  check_eq "kd733: reg 0x2d after update 0x30" 0x02 "$(reg 0x74 0x2d)"
  check_eq "kd733: reg 0x2e after update 0x30" 0x20 "$(reg 0x74 0x2e)"
  check_eq "kd733: reference regs 0x2b/0x2c unchanged" "0xfd 0xf0" "$(reg 0x74 0x2b) $(reg 0x74 0x2c)"

  # A carry out of 10 bits: 0x3F0 + 0x20 = 0x410 -> 0x010.
  setreg 0x74 0x2b 0x03
  vcom "kd733: update 0x20 read" "$ROOT" update 0x20 read && check_eq "kd733: read after wrapping update" 32 "$(last_read)"
  check_eq "kd733: reg 0x2d after wrapping update" 0x00 "$(reg 0x74 0x2d)"
  check_eq "kd733: reg 0x2e after wrapping update" 0x10 "$(reg 0x74 0x2e)"

  vcom "kd733: save 0x20" "$ROOT" save 0x20
  check_eq "kd733: reg 0xff (control) after save" 0x41 "$(reg 0x74 0xff)"
}

scenario_rt6966() {
  echo "INFO --- RT6966 (TypeIdx 6, 0xE8, value kept in the U-Boot environment)"
  load_stub 0x74 || { fail "rt6966: i2c-stub did not load"; return; }
  ROOT=/tmp/rt6966
  make_root "$ROOT" 6 0xE8 1
  make_env_store "$ROOT"
  check_backend rt6966 "$ROOT"

  setreg 0x74 0x25 0x3f
  setreg 0x74 0x26 0xf0
  vcom "rt6966: read" "$ROOT" read && check_eq "rt6966: read of preset 0x25=0x3f 0x26=0xf0" 653 "$(last_read)"

  # D = 200 + 370 = 0x23A
  vcom "rt6966: update 200 read" "$ROOT" update 200 read && check_eq "rt6966: read after update" 200 "$(last_read)"
  check_eq "rt6966: reg 0x25 after update 200 ((D>>4)&0x3f)" 0x23 "$(reg 0x74 0x25)"
  check_eq "rt6966: reg 0x26 after update 200 ((D&0xf)<<4)" 0xa0 "$(reg 0x74 0x26)"

  vcom "rt6966: save 200" "$ROOT" save 200
  check_eq "rt6966: fw_printenv vcom_value after save 200" 200 "$(env_value "$ROOT" vcom_value)"
  check_eq "rt6966: regs 0x25/0x26 after save" "0x23 0xa0" "$(reg 0x74 0x25) $(reg 0x74 0x26)"
  # The second save goes to the other copy of the redundant store.
  vcom "rt6966: save 7" "$ROOT" save 7
  check_eq "rt6966: fw_printenv vcom_value after save 7" 7 "$(env_value "$ROOT" vcom_value)"
  # Above what the environment copy may hold: refused (exit 2), nothing stored.
  check_eq "rt6966: exit status of save 256" 2 "$(exit_status "$VCOMCTL" -r "$ROOT" save 256)"
  check_eq "rt6966: vcom_value after refused save" 7 "$(env_value "$ROOT" vcom_value)"
}

scenario_auo
scenario_boe
scenario_kd733
scenario_rt6966
