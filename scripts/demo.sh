#!/usr/bin/env bash
# The main job: builds vcomctl and runs a calibration session on a simulated
# panel of every supported chip: read, update to a new value, read back,
# save, and the VCOM test pattern on and off, with the driver's messages.
# Installs what it needs first.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/install-deps.sh
cmake --preset host-release >/dev/null
cmake --build --preset host-release --target vcomctl -j "$(nproc)" >/dev/null

vcomctl=build/host-release/tools/vcomctl/vcomctl
session() {
  local chip=$1 value=$2
  echo
  echo "=== $chip: read, update $value, read back, save $value, pattern on/off"
  "$vcomctl" --sim "$chip" -v read update "$value" read save "$value" pattern on pattern off
}

session auo 0x5A
session kd532p 0x5A
session boe 0x5A
session kd733 0x5A
session rt6966 0x5A
session g1625 0x2A
session in525 0x5A
session in518 0x5A
