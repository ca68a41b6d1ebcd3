#!/usr/bin/env bash
# The README's pictures, made the same way every time: a simulated shift of
# three chips (fixed seed, fixed times), one panel's curve from it and the
# line report with a screenshot of its first screen.
#
#   scripts/plot-demo.sh VCOMCTL VCOMPLOT-SHIFT OUT_DIR
set -euo pipefail
vcomctl=$1 shift_log=$2 out=$3
here=$(cd "$(dirname "$0")/.." && pwd)
mkdir -p "$out"
"$shift_log" 40 7 auo in525 g1625 >"$out/demo-shift.jsonl"
"$vcomctl" plot "$out/demo-shift.jsonl" --panel SN-in525-1017 -o "$out/demo-panel.svg"
"$vcomctl" line-report "$out/demo-shift.jsonl" -o "$out/demo-line-report.html" \
  --title "Station 3, early shift (simulated)"
python3 "$here/system/ics/vcomplot/tests/browser_check.py" screenshot \
  "$out/demo-line-report.html" "$out/demo-line-report.png"
