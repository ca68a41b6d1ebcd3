#!/usr/bin/env bash
# Builds the libFuzzer targets (fuzz preset, clang) and runs each for a while,
# starting from its seeds in fuzz/corpus/<target>.
#   scripts/fuzz.sh                       every target for 20 s, as CI does
#   scripts/fuzz.sh 3600                  every target for an hour
#   scripts/fuzz.sh 3600 fuzz_bus_responses
# Inputs that find new paths collect in build/fuzz/corpus/<target>; the seeds
# are not changed. A finding (crash, leak, broken rule) is saved as
# build/fuzz/findings/<target>/<kind>-<hash>, its log is printed and the
# script exits 1. Reproduce it with: build/fuzz/fuzz/<target> <that file>
set -euo pipefail
cd "$(dirname "$0")/.."

seconds=${1:-20}
shift || true
case "$seconds" in
  '' | *[!0-9]*) echo "fuzz.sh: '$seconds' is not a number of seconds" >&2; exit 2 ;;
esac

cmake --preset fuzz >/dev/null
cmake --build --preset fuzz -j "$(nproc)"
targets=("$@")
[ ${#targets[@]} -gt 0 ] || targets=(fuzz_board_file fuzz_platform_conf fuzz_fw_env fuzz_bus_responses
  fuzz_line_state fuzz_meter_reply fuzz_session_line)

status=0
for target in "${targets[@]}"; do
  binary=$PWD/build/fuzz/fuzz/$target
  if [ ! -x "$binary" ]; then
    echo "fuzz.sh: no fuzz target '$target' (see fuzz/CMakeLists.txt)" >&2
    exit 2
  fi
  corpus=$PWD/build/fuzz/corpus/$target
  findings=$PWD/build/fuzz/findings/$target
  log=$PWD/build/fuzz/$target.log
  mkdir -p "$corpus" "$findings"
  echo "== $target, $seconds s"
  if "$binary" -max_total_time="$seconds" -timeout=10 -artifact_prefix="$findings/" \
       "$corpus" "$PWD/fuzz/corpus/$target" >"$log" 2>&1; then
    tail -n 1 "$log"
  else
    tail -n 40 "$log"
    echo "fuzz.sh: $target found a problem; the input is in $findings/" >&2
    status=1
  fi
done
exit "$status"
