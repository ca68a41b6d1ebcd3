#!/usr/bin/env bash
# The main job: builds vcomctl and runs a calibration session on a simulated
# panel of every supported chip: read, update to a new value, read back,
# save, and the VCOM test pattern on and off, with the driver's messages;
# then a closed-loop calibration of a simulated IN525 panel.
# Installs what it needs first. Build output goes to build/demo-build.log and
# is shown when the build fails.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/install-deps.sh
log=build/demo-build.log
mkdir -p build
if ! { cmake --preset host-release && \
       cmake --build --preset host-release --target vcomctl_installed vcomplot-shift -j "$(nproc)"; } >"$log" 2>&1; then
  cat "$log" >&2
  echo "demo: the build failed (log above, also in $log)" >&2
  exit 1
fi

# The binary as installed (RUNPATH $ORIGIN/../<libdir>). Its target is named
# outright: in Ninja the short name "vcomctl" stands for this file's path.
vcomctl=build/host-release/bin/vcomctl
session() {
  local chip=$1 value=$2
  echo
  echo "=== $chip: read, update $value, read back, save $value, pattern on/off"
  "$vcomctl" --sim "$chip" -v read update "$value" read save "$value" pattern on pattern off
}

for chip in $("$vcomctl" chips | awk 'NR > 1 { print $2 }'); do
  case $chip in
    g1625) session "$chip" 0x2A ;;  # 7-bit setting
    *) session "$chip" 0x5A ;;
  esac
done

echo
echo "=== in525: closed-loop calibration against the simulated panel's flicker, then a verified save"
"$vcomctl" calibrate --sim in525 --meter sim

echo
echo "=== pictures: one panel's curve and a simulated shift's line report (fixed seed and times)"
bash scripts/plot-demo.sh build/host-release/bin/vcomctl \
  build/host-release/system/ics/vcomplot/tests/vcomplot-shift build
echo "build/demo-panel.svg, build/demo-line-report.html (screenshot build/demo-line-report.png)"
