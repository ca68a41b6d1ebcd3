#!/usr/bin/env bash
# Builds the benchmarks (release) and prints the figures of the README's
# "Performance" section: CPU time and heap allocations per VCOM operation,
# then each operation's wall time with the real usleep against its physical
# minimum. Installs what it needs first.
#
#   scripts/bench.sh [RUNS]    RUNS: timed runs per operation and timer slack (default 3)
#
# Wall times are only as good as the machine is idle: the load average is
# printed with them.
set -euo pipefail
cd "$(dirname "$0")/.."

runs=${1:-3}
case "$runs" in
  '' | *[!0-9]* | 0) echo "bench: RUNS must be a positive number, not '$runs'" >&2; exit 2 ;;
esac

bash scripts/install-deps.sh
cmake --preset host-bench >/dev/null
cmake --build --preset host-bench -j "$(nproc)" >/dev/null

bin=build/host-bench/bench
# The driver's error-level messages (some operations log one on success).
messages=build/host-bench/bench-messages.log
: >"$messages"

. /etc/os-release
echo "Machine: $(nproc) CPUs, $(sed -n 's/^model name[[:space:]]*: //p' /proc/cpuinfo | head -1), ${PRETTY_NAME}"
echo "Load average before: $(cut -d' ' -f1-3 /proc/loadavg)"
echo
echo "== CPU and heap allocations per operation (usleep returns at once, trace off)"
"$bin/vcom_ops_bench" --benchmark_counters_tabular=true 2>>"$messages" ||
  { echo "bench: vcom_ops_bench failed; driver messages in $messages" >&2; exit 1; }
echo
echo "== Wall time with the real usleep / physical minimum (waits + 100 kHz wire time), median of $runs"
"$bin/vcom_wall_time" "$runs" 2>>"$messages" ||
  { echo "bench: vcom_wall_time failed; driver messages in $messages" >&2; exit 1; }
echo
echo "== vcomctl session: CPU per command against the same calls on ze::hal::Vcom (simulated AUO)"
"$bin/session_bench" 2>>"$messages" ||
  { echo "bench: session_bench failed; driver messages in $messages" >&2; exit 1; }
echo "Load average after: $(cut -d' ' -f1-3 /proc/loadavg)"
