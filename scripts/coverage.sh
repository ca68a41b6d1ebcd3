#!/usr/bin/env bash
# Line and branch coverage of libzeic_vcom and libzeplatform by the host test
# suites (gcc --coverage, gcovr). Prints one summary per library and writes
# an HTML report per library to build/coverage/report/.
#   scripts/coverage.sh
set -euo pipefail
cd "$(dirname "$0")/.."

build=build/coverage
flags=--coverage
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Debug \
  -DCMAKE_C_FLAGS="$flags" -DCMAKE_CXX_FLAGS="$flags" \
  -DCMAKE_EXE_LINKER_FLAGS="$flags" -DCMAKE_SHARED_LINKER_FLAGS="$flags" >/dev/null
cmake --build "$build" -j "$(nproc)"
find "$build" -name '*.gcda' -delete
# The library boundary check is left out: coverage adds gcov's own symbols.
# A failing test still leaves its coverage; the figures are reported either way.
ctest --test-dir "$build" -j "$(nproc)" --output-on-failure -E '^library_defines_no_platform_symbols$' ||
  echo "coverage: some tests failed" >&2

mkdir -p "$build/report"
report() {
  local name=$1
  shift
  local filters=()
  for dir in "$@"; do filters+=(--filter "$PWD/$dir/"); done
  echo "== $name"
  gcovr --root . "${filters[@]}" --exclude '.*/tests/.*' \
    --exclude-throw-branches --exclude-unreachable-branches \
    --html-details "$build/report/$name.html" --print-summary "$build" | tail -n 3
}
report libzeic_vcom system/ics/vcom/src
report libzeplatform platform/src platform/hw/src
