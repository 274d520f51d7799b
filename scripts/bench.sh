#!/usr/bin/env bash
# Benchmarks, each printed as a ratio of two things measured side by side in
# the same run (never run by CI; figures vary with the machine, ratios much
# less):
#   - a check with no work (90-COMANDAS: three exchanges through the command
#     interpreter stand-in) against three bare Wget calls to the same server;
#   - the window a power cut can take an order in: from the end of the batch
#     run that brought an answer with work to its pending copy synced (a
#     time, not a ratio: what the disk's syncs cost);
#   - the export (01-EXPORTA) in records per second against a plain
#     one-transaction scan of the same ERP files by the sqlite3 shell;
#   - scripts/bench-monitor.sh and scripts/bench-printing.sh, when present.
# Builds the optimised preset first. KAV_BENCH_ROUNDS sets the rounds of the
# check benchmark (default 40); KAV_BENCH_PRODUCTS and KAV_BENCH_SELLERS the
# size of the export (default 100000 and 10000).
set -euo pipefail
cd "$(dirname "$0")/.."

cmake --preset default >/dev/null
cmake --build --preset default --target kav_bench_check kav_bench_export >/dev/null

echo "== a check with no work against three bare Wget calls (goal: at most 1.2x)"
build/bin/kav-bench-check --rounds "${KAV_BENCH_ROUNDS:-40}"

echo
echo "== the window in which a power cut loses an order handed out (answer arrived -> pending copy synced)"
build/bin/kav-bench-check --window "${KAV_BENCH_ROUNDS:-40}"

echo
echo "== export of ${KAV_BENCH_PRODUCTS:-100000} products and ${KAV_BENCH_SELLERS:-10000} sellers (goal: at least 110000 records/s)"
build/bin/kav-bench-export --products "${KAV_BENCH_PRODUCTS:-100000}" --sellers "${KAV_BENCH_SELLERS:-10000}"

for extra in bench-monitor.sh bench-printing.sh; do
  if [ -x "scripts/$extra" ]; then
    echo
    echo "== scripts/$extra"
    "scripts/$extra"
  else
    echo
    echo "== scripts/$extra: not present"
  fi
done
