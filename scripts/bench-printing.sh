#!/usr/bin/env bash
# Benchmarks of printing (not tests): one check of the monitor that prints,
# as a ratio to three bare GNU Wget calls in the same run.
#   1. an order of 2 items for 2 real printers (goal: at most 3x);
#   2. an answer of 200 items for 20 printers (goal: at most 5x).
# The printers are CUPS PDF queues set up by scripts/cups-test-printer.sh
# (KAVTEST, KAVTEST2, KAVBENCH01..20); without CUPS the tickets go to
# printers the spooler does not know, and the figures say so.
set -u
cd "$(dirname "$0")/.."
build="${KAV_BUILD_DIR:-build}"
# Built every time (nothing to do when it is up to date): a stale program
# would measure old code.
if [ -z "${KAV_BUILD_DIR:-}" ]; then
  { [ -f build/build.ninja ] || cmake --preset default >/dev/null; } &&
    cmake --build --preset default --target kav_bench_printing -j2 >/dev/null ||
    { echo "bench-printing: build failed"; exit 1; }
fi
cups=1
for p in KAVTEST KAVTEST2; do scripts/cups-test-printer.sh "$p" >/dev/null 2>&1 || cups=0; done
twenty=""
for i in $(seq -w 1 20); do
  [ "$cups" = 1 ] && { scripts/cups-test-printer.sh "KAVBENCH$i" >/dev/null 2>&1 || cups=0; }
  twenty="${twenty:+$twenty,}KAVBENCH$i"
done
[ "$cups" = 1 ] || echo "bench-printing: no CUPS printers; tickets go to unknown printers"
echo "== an order for 2 printers (goal <= 3x)"
"$build/bin/kav-bench-printing" --items 2 --printers KAVTEST,KAVTEST2 --runs "${KAV_BENCH_RUNS:-7}"
echo "== 200 items for 20 printers (goal <= 5x)"
"$build/bin/kav-bench-printing" --items 200 --printers "$twenty" --runs "${KAV_BENCH_RUNS:-7}"
