#!/usr/bin/env bash
# What the monitor costs over a long run, measured side by side in one run:
# heap growth per check in console mode and in window mode over simulated
# days, and the CPU time of a check with the monitor's list full against a
# check with the list nearly empty.
#
#   scripts/bench-monitor.sh [DAYS] [WINDOW_DAYS]
#
# DAYS (default 30) simulated days in console mode, on the virtual clock;
# WINDOW_DAYS (default DAYS) in window mode, where the timers fire as fast as
# the event loop turns (offscreen, so no display is needed). Builds
# build/bin/kav-bench-monitor when it is missing or stale.
set -euo pipefail
cd "$(dirname "$0")/.."

days=${1:-30}
window_days=${2:-$days}

if [ ! -f build/build.ninja ]; then
  cmake --preset default >/dev/null
fi
cmake --build --preset default --target kav_bench_monitor -j2 >/dev/null

bench=build/bin/kav-bench-monitor
echo "monitor: ${days} simulated days in console mode, ${window_days} in window mode"
"$bench" --days "$days"
QT_QPA_PLATFORM=${QT_QPA_PLATFORM:-offscreen} "$bench" --days "$window_days" --window
echo "goal: under 0.3 KB per check; CPU ratio at most 1.2"
