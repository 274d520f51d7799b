#!/usr/bin/env bash
# Installs what is missing, builds and runs the whole test suite under
# AddressSanitizer and UndefinedBehaviorSanitizer, then the Windows build and
# its suite under Wine (scripts/windows-suite.sh), the installer's
# install-and-print run (scripts/windows-acceptance.sh) and ESC/POS printing
# from Wine (scripts/windows-raw-print.sh), then fuzzes the reader of web answers for a short while.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/setup.sh

# The include graph: every include between folders goes to a lower layer.
scripts/check-layers.sh

# A CUPS server with a PDF printer for the printing tests, where one can run.
if [ -x scripts/cups-test-printer.sh ]; then
  { scripts/cups-test-printer.sh && scripts/cups-test-printer.sh KAVTEST2; } ||
    echo "test: no CUPS test printers; the CUPS delivery tests will skip"
fi

jobs=$(nproc)
cmake --preset test >/dev/null
cmake --build --preset test -j "$jobs"
ctest --preset test -j "$jobs"

# The Windows half: cross build, the suite under Wine, the installer.
# Without Wine or MinGW-w64 (not a Debian machine set up by scripts/setup.sh)
# either script exits 3, says so loudly and the rest goes on.
# KAV_WINDOWS_SKIP_INSTALLER=1 stops after the suite.
rc=0
scripts/windows-suite.sh || rc=$?
if [ "$rc" = 0 ] && [ "${KAV_WINDOWS_SKIP_INSTALLER:-0}" != 1 ]; then
  scripts/windows-acceptance.sh || rc=$?
  # ESC/POS from Wine, byte for byte: raw through Wine's spooler into a CUPS
  # raw queue, and to network printers on loopback ports.
  [ "$rc" != 0 ] || scripts/windows-raw-print.sh || rc=$?
fi
if [ "$rc" = 3 ]; then
  echo "test: THE WINDOWS BUILD AND ITS TESTS DID NOT RUN (see above)" >&2
elif [ "$rc" != 0 ]; then
  exit "$rc"
fi

# Fuzzing, briefly: the answer reader alone over arbitrary bytes
# (answer_fields_fuzz), then the whole order-processing form over one answer
# (answer_reader_fuzz), KAV_FUZZ_SECONDS each (20 by default), both starting
# from the kept corpus of answers. A crash fails the run and names the input
# that reproduces it (run the target with that file as its argument).
cmake --preset fuzz >/dev/null
cmake --build --preset fuzz -j "$jobs" --target answer_fields_fuzz answer_reader_fuzz
fuzz_seconds="${KAV_FUZZ_SECONDS:-20}"
# A smaller quarantine of freed memory keeps the fuzzers' memory and page
# faults down; use after free is still caught within 16 MB of allocations.
export ASAN_OPTIONS="${ASAN_OPTIONS:-quarantine_size_mb=16}"
for target in answer_fields_fuzz answer_reader_fuzz; do
  # The reader has no table to overflow: short inputs suffice, and run faster.
  # 1280 bytes still hold more than the 512 kept of the text before the first
  # record, a record, and more than the 512 kept from a damage on.
  # The whole form needs room for 250 items and a huge field.
  case "$target" in answer_fields_fuzz) max_len=1280 ;; *) max_len=16384 ;; esac
  corpus="build-fuzz/corpus/$target"
  artifacts="build-fuzz/artifacts/$target"
  log="build-fuzz/$target.log"
  mkdir -p "$corpus" "$artifacts"
  cp tests/fuzz/corpus/* "$corpus"/
  if ! "build-fuzz/bin/$target" -max_total_time="$fuzz_seconds" -max_len="$max_len" -timeout=10 \
       -print_final_stats=1 -artifact_prefix="$artifacts/" "$corpus" 2>"$log"; then
    tail -40 "$log"
    reproducer=$(sed -n 's/.*Test unit written to \(.*\)$/\1/p' "$log" | tail -1)
    echo "fuzz: $target failed; reproducer: ${reproducer:-none written, see $log}"
    exit 1
  fi
  runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log")
  rate=$(sed -n 's/^stat::average_exec_per_sec: *//p' "$log")
  echo "fuzz: $target ran ${runs:-?} inputs in ${fuzz_seconds} s (${rate:-?} inputs/s) without a fault"
done
