# vcomctl on the Linux hardware backend, every chip, both kernel paths.
# Sourced by guest-init.sh after the VM checks; uses its helpers
# (load_modelbus, unload_modelbus, line_state, make_env_store, check_eq,
# run_logged, pass, fail).
#
# Each chip is played by i2c-modelbus-responder (the simulated board's model
# of it) behind the i2c-modelbus adapter, loaded once offering plain I2C
# transfers (the backend takes I2C_RDWR) and once hiding them (the backend
# takes its SMBus path and the core emulates SMBus on the adapter). The
# models' registers and NVM are checked from the responder's own dump, the
# gate and switch levels from its transfer log, sampled as each transfer
# reached it.

VCOMCTL=/usr/bin/vcomctl
RESPONDER=/usr/bin/i2c-modelbus-responder
GATE_GPIO=168   # GpioAddr 0xA8, the AUO access gate
GATE_LINE=4     # on the PL061; line 3 is the power key
SWITCH_GPIO=0   # the I2C switch
SWITCH_LINE=5
XFERS=/tmp/xfers.log

# --- the responder ---------------------------------------------------------------
RESPONDER_PID=
# start_responder CHIP ARGS...: a fresh model on the adapter, controlled
# through fds 3 (commands) and 4 (answers).
start_responder() {
  rm -f /tmp/mb.cmd /tmp/mb.reply
  mkfifo /tmp/mb.cmd /tmp/mb.reply
  "$RESPONDER" "$@" </tmp/mb.cmd >/tmp/mb.reply 2>"$XFERS" &
  RESPONDER_PID=$!
  exec 3>/tmp/mb.cmd 4</tmp/mb.reply
  read -r line <&4
  [ "$line" = ready ] || { fail "$P: responder $* did not start"; cat "$XFERS"; return 1; }
}
stop_responder() {
  [ -n "$RESPONDER_PID" ] || return 0
  exec 3>&- 4<&-
  kill "$RESPONDER_PID"
  wait "$RESPONDER_PID" 2>/dev/null
  RESPONDER_PID=
}
# ctl COMMAND...: the responder's one-line answer.
ctl() {
  echo "$*" >&3
  read -r answer <&4
  echo "$answer"
}
# model KEY: a field of the model dump ("nvm" -> "0x3c").
model() { ctl dump | tr ' ' '\n' | sed -n "s/^$1=//p"; }
# The transfer log lines since the last mark_xfers.
mark_xfers() { XFER_MARK=$(wc -l < "$XFERS"); }
new_xfers() { tail -n +$((XFER_MARK + 1)) "$XFERS"; }

# --- platform root -----------------------------------------------------------------
# make_root DIR TYPEIDX VCOMADDR GPIOSTATUS [I2CSWITCHTYPE]
make_root() {
  rm -rf "$1"
  mkdir -p "$1/etc" "$1/obdata/model/config"
  cat > "$1/etc/zeplatform.conf" <<EOF
; system-test board: the VCOM chip on i2c-modelbus, gate and switch on the PL061
[soc]
backend = linux
[i2c]
buses = $BUS
[gpio]
$GATE_GPIO = $GPIOCHIP:$GATE_LINE
$SWITCH_GPIO = $GPIOCHIP:$SWITCH_LINE
EOF
  write_board "$@"
}

# write_board DIR TYPEIDX VCOMADDR GPIOSTATUS [I2CSWITCHTYPE]
write_board() {
  cat > "$1/obdata/model/config/board.ini" <<EOF
[VCOM]
TypeIdx = $2
I2cBus = $BUS
VcomAddr = $3
GpioAddr = $GATE_GPIO
GpioStatus = $4
LdmFlag = 0
I2cSwitchType = ${5:-0}
EOF
}

# --- vcomctl ------------------------------------------------------------------------
# vcom WHAT ARGS...: vcomctl -y -r $ROOT ARGS..., which must exit 0 (-y: the
# console is a terminal, and an MTP save would wait for a confirmation).
vcom() {
  what=$1
  shift
  run_logged "$P: $what" "$VCOMCTL" -y -r "$ROOT" "$@"
}

# vcom_fails WHAT STATUS ARGS...: vcomctl must exit with STATUS; its output
# (stdout and stderr, with the driver's own messages: -v) is kept in $OUT.
vcom_fails() {
  what=$1
  want=$2
  shift 2
  OUT=$("$VCOMCTL" -v -y -r "$ROOT" "$@" 2>&1)
  check_eq "$P: $what: exit status" "$want" "$?"
}

# The value of the last "read: 128 (0x80)" line of the last vcomctl run.
last_read() { echo "$OUT" | sed -n 's/^read: \([0-9][0-9]*\).*/\1/p' | tail -n 1; }

# expect_output WHAT TEXT: the last vcomctl run printed TEXT.
expect_output() {
  case "$OUT" in
    *"$2"*) pass "$P: $1: '$2'" ;;
    *) fail "$P: $1: no '$2' in:"; echo "$OUT" | sed 's/^/      | /' ;;
  esac
}

# A broken zeplatform.conf must not pass through a simulated panel unnoticed.
check_backend() {
  if run_logged "$P: --json read" "$VCOMCTL" --json -r "$ROOT" read; then
    case "$OUT" in
      *'"backend":"linux"'*) pass "$P: backend is linux" ;;
      *) fail "$P: backend is not linux: $OUT" ;;
    esac
  fi
}

# levels_during WHAT LINE LEVEL: every transfer since mark_xfers saw LINE
# (gate or switch) at LEVEL, and there was at least one.
levels_during() {
  total=$(new_xfers | grep -c '^xfer')
  other=$(new_xfers | grep '^xfer' | grep -vc " $2=$3 ")
  if [ "$total" -gt 0 ] && [ "$other" -eq 0 ]; then
    pass "$P: $1: $2 at $3 during all $total transfers"
  else
    fail "$P: $1: $2 not at $3 during $other of $total transfers:"
    new_xfers | sed 's/^/      | /'
  fi
}

# --- scenarios ----------------------------------------------------------------------
# nvm_session VALUE AFTER_UPDATE AFTER_SAVE OTHER: update VALUE and read it
# back, the model's setting shows AFTER_UPDATE ("key=value"); save VALUE and
# its NVM shows AFTER_SAVE; update OTHER, power-cycle the model, and a read
# gives VALUE again.
nvm_session() {
  vcom "update $1 read" update "$1" read && check_eq "$P: read after update $1" "$1" "$(last_read)"
  check_eq "$P: model after update $1" "${2#*=}" "$(model "${2%%=*}")"
  vcom "save $1" save "$1"
  check_eq "$P: model NVM after save $1" "${3#*=}" "$(model "${3%%=*}")"
  vcom "update $4" update "$4"
  check_eq "$P: power cycle" ok "$(ctl power-cycle)"
  vcom "read after power cycle" read && check_eq "$P: read after power cycle" "$1" "$(last_read)"
}

# chip NAME TYPEIDX VCOMADDR: a responder for the chip and a platform root.
chip() {
  P="[$MODELBUS_PATH] $1"
  echo "INFO --- $P (TypeIdx $2, $3)"
  ROOT=/tmp/$1
  make_root "$ROOT" "$2" "$3" 1
  start_responder "$1" --addr "$3"
}

scenario_auo() {
  P="[$MODELBUS_PATH] auo"
  echo "INFO --- $P (TypeIdx 1, 0xE8, gate GPIO $GATE_GPIO = $GPIOCHIP:$GATE_LINE)"
  ROOT=/tmp/auo
  make_root "$ROOT" 1 0xE8 0
  start_responder auo --gpio-status 0 --gate "$GPIOCHIP:$GATE_LINE" || return
  check_backend
  mark_xfers
  nvm_session 0x3c setting=0x3c nvm=0x3c 0x20
  levels_during "GpioStatus 0" gate 0
  # The gate rests at the level opposite to GpioStatus once vcomctl is done.
  check_eq "$P: gate line after vcomctl (GpioStatus 0)" "out 1" "$(line_state "$GATE_LINE")"
  stop_responder

  start_responder auo --gpio-status 1 --gate "$GPIOCHIP:$GATE_LINE" || return
  write_board "$ROOT" 1 0xE8 1
  mark_xfers
  vcom "update 0x2a (GpioStatus 1)" update 0x2a
  check_eq "$P: model after update 0x2a (GpioStatus 1)" 0x2a "$(model setting)"
  levels_during "GpioStatus 1" gate 1
  check_eq "$P: gate line after vcomctl (GpioStatus 1)" "out 0" "$(line_state "$GATE_LINE")"
  # A board file that opens the gate at the wrong level: the chip NACKs its
  # address, and the failure reaches vcomctl with the kernel's errno.
  write_board "$ROOT" 1 0xE8 0
  vcom_fails "update with the gate at the wrong level" 1 update 0x11
  expect_output "update with a closed gate" "QEL_I2CWrite fail, ret = -6."
  expect_output "update with a closed gate" "No such device or address"
  check_eq "$P: model untouched by the refused update" 0x2a "$(model setting)"
  stop_responder
}

# The KD532P shares the AUO's registers and has no gate; here it sits
# behind the I2C switch.
scenario_kd532p() {
  P="[$MODELBUS_PATH] kd532p"
  echo "INFO --- $P (TypeIdx 10, 0xE8, behind the I2C switch GPIO $SWITCH_GPIO = $GPIOCHIP:$SWITCH_LINE)"
  ROOT=/tmp/kd532p
  make_root "$ROOT" 10 0xE8 1 1
  start_responder kd532p --switch "$GPIOCHIP:$SWITCH_LINE" || return
  check_backend
  mark_xfers
  nvm_session 0x5a setting=0x5a nvm=0x5a 0x11
  levels_during "I2cSwitchType 1" switch 1
  check_eq "$P: switch line after vcomctl" "out 0" "$(line_state "$SWITCH_LINE")"

  # NACKs on the wire: the driver's failure messages carry the kernel's errno.
  check_eq "$P: fail-matching" ok "$(ctl fail-matching 0xE8 0x01 EIO)"
  vcom_fails "update with the data byte NACKed" 1 update 0x33
  expect_output "data NACK" "[VCOMIC] I2C write fail, u8devAddr = 0xe8."
  expect_output "data NACK" "QEL_I2CWrite fail, ret = -5."
  expect_output "data NACK" "Input/output error"
  check_eq "$P: clear-faults" ok "$(ctl clear-faults)"
  check_eq "$P: fail-nth" ok "$(ctl fail-nth read 1 ENXIO)"
  vcom_fails "read with the address NACKed" 1 read
  expect_output "address NACK" "QEL_I2CRead fail, ret = -6."
  expect_output "address NACK" "No such device or address"
  vcom "read once the fault is spent" read && check_eq "$P: read after the NACKs" 0x5a "$(last_read)"

  # The switch left open: the panel is off the bus.
  write_board "$ROOT" 10 0xE8 1 0
  vcom_fails "read with the switch left open" 1 read
  expect_output "switch open" "No such device or address"
  stop_responder
}

scenario_boe() {
  chip boe 4 0xE0 || return
  check_backend
  # code = value + 401
  nvm_session 150 code=0x227 nvm=0x227 0
  stop_responder
}

scenario_kd733() {
  chip kd733 8 0xE8 || return
  check_backend
  # setting = reference 0x1C0 + value
  nvm_session 0x30 setting=0x1f0 nvm=0x1f0 0x10
  check_eq "$P: reference untouched" 0x1c0 "$(model reference)"
  stop_responder
}

scenario_g1625() {
  chip g1625 9 0xE8 || return
  check_backend
  nvm_session 0x2a setting=0x2a nvm=0x2a 0x11
  check_eq "$P: NVM programmed once" 1 "$(model nvm_writes)"
  stop_responder
}

scenario_in525() {
  chip in525 7 0xE8 || return
  check_backend
  nvm_session 0x85 vcom1=0x85 nvm_vcom1=0x85 0x70
  # VCOM2 keeps its factory distance to VCOM1: 0x90 - 0x80 + 0x85.
  check_eq "$P: VCOM2 follows VCOM1 into NVM" 0x95 "$(model nvm_vcom2)"
  check_eq "$P: locked after save" 1 "$(model locks)"
  stop_responder
}

scenario_in518() {
  chip in518 3 0xE8 || return
  check_backend
  nvm_session 0x5a vcom=0x5a nvm=0x5a 0x70
  stop_responder
}

scenario_rt6966() {
  chip rt6966 6 0xE8 || return
  make_env_store "$ROOT"
  check_backend
  # The power-on code 0x200 reads as 0x200 - 370.
  vcom "read" read && check_eq "$P: read at power-on" 142 "$(last_read)"
  # code = 200 + 370 = 0x23A, bits 9..4 in 0x25, bits 3..0 in 0x26's top.
  vcom "update 200 read" update 200 read && check_eq "$P: read after update 200" 200 "$(last_read)"
  check_eq "$P: model after update 200" "0x23 0xa0" "$(model vcom_h) $(model vcom_l)"
  vcom "save 200" save 200
  check_eq "$P: fw_printenv vcom_value after save 200" 200 "$(env_value "$ROOT" vcom_value)"
  vcom "save 7" save 7
  check_eq "$P: fw_printenv vcom_value after save 7 (other copy)" 7 "$(env_value "$ROOT" vcom_value)"
  check_eq "$P: registers left alone by the saves" 0x23a "$(model code)"
  stop_responder
}

# By hand against a model: a write, then sub-address, repeated start, read,
# which must reach the responder as one transfer. i2ctransfer wants plain
# I2C transfers; on the SMBus path i2cset/i2cget put the same bytes on the wire.
scenario_by_hand() {
  P="[$MODELBUS_PATH] by hand"
  start_responder kd532p || return
  if [ "$MODELBUS_PATH" = i2c ]; then
    set -- "$I2CTRANSFER" -y "$BUS" w1@0x74 0x01 r1@0x74
    "$I2CTRANSFER" -y "$BUS" w2@0x74 0x01 0x3c
  else
    set -- "$I2CGET" -y "$BUS" 0x74 0x01 b
    "$I2CSET" -y "$BUS" 0x74 0x01 0x3c b
  fi
  check_eq "$P: read back with a repeated start" 0x3c "$("$@")"
  check_eq "$P: the read arrived as one transfer" "xfer 2: w@74 01 r@74 3c -> ok" "$(tail -n 1 "$XFERS")"
  check_eq "$P: model after the write" 0x3c "$(model setting)"
  stop_responder
  # The responder gone: transfers fail.
  if "$@" >/dev/null 2>&1; then fail "$P: a read without a responder succeeded"; else pass "$P: a read without a responder fails"; fi
}

# The adapter against a responder that misbehaves: statuses around the
# bound of what it passes on, a read stuck in a page fault, and a timeout far
# above its bound. Once, on the plain I2C path: i2ctransfer names the errno.
scenario_adapter() {
  P="[$MODELBUS_PATH] adapter"
  start_responder kd532p || return
  set -- "$I2CTRANSFER" -y "$BUS" w1@0x74 0x01 r1@0x74
  # 133 is the last errno a caller knows; 512 is -ERESTARTSYS.
  for case in "133:Memory page has hardware error" "134:Protocol error" "512:Protocol error"; do
    check_eq "$P: fail-nth read 1 ${case%%:*}" ok "$(ctl fail-nth read 1 "${case%%:*}")"
    transfer_fails "a transfer answered with -${case%%:*}" "${case#*:}" "$@"
  done

  check_eq "$P: I2C_TIMEOUT of an hour" ok "$(ctl i2c-timeout "$BUS" 360000)"
  timeout=$(cat "$MODELBUS_TIMEOUT")
  check_eq "$P: effective timeout after I2C_TIMEOUT of an hour" "$MODELBUS_MAX_TIMEOUT_MS" "$timeout"
  # Unbounded, the stalled transfer below would hold the VM past its own timeout.
  if [ "$timeout" -le "$MODELBUS_MAX_TIMEOUT_MS" ]; then
    check_eq "$P: stall-read" ok "$(ctl stall-read)"
    transfer_fails "a transfer the responder is stuck reading" "Connection timed out" "$@"
    check_eq "$P: the responder's read stuck in its page fault" 1 "$(grep -c 'stalled in a page fault' "$XFERS")"
    check_eq "$P: the next transfer, from another process" "$(model setting)" "$("$@" 2>&1)"
  fi
  check_eq "$P: I2C_TIMEOUT of 2 s" ok "$(ctl i2c-timeout "$BUS" 200)"
  check_eq "$P: effective timeout after I2C_TIMEOUT of 2 s" 2000 "$(cat "$MODELBUS_TIMEOUT")"
  stop_responder
}

# transfer_fails WHAT ERROR CMD...: CMD fails, saying ERROR.
transfer_fails() {
  what=$1
  want=$2
  shift 2
  if OUT=$("$@" 2>&1); then
    fail "$P: $what: succeeded"
  else
    expect_output "$what" "$want"
  fi
}

for path in i2c smbus; do
  load_modelbus "$path" || { fail "[$path] i2c-modelbus did not load"; continue; }
  [ "$path" = i2c ] && scenario_adapter
  scenario_by_hand
  scenario_auo
  scenario_kd532p
  scenario_boe
  scenario_kd733
  scenario_rt6966
  scenario_g1625
  scenario_in525
  scenario_in518
  stop_responder
  unload_modelbus
done
