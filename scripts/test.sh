#!/usr/bin/env bash
# Installs what is missing, builds and runs the whole test suite under
# AddressSanitizer and UndefinedBehaviorSanitizer, then the Windows build and
# its suite under Wine with the installer (scripts/windows-test.sh), then
# fuzzes the reader of web answers for a short while.
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

# The Windows half: cross build, the suite under Wine, the installer. Without
# Wine or MinGW-w64 (not a Debian machine set up by scripts/setup.sh) it says
# so loudly and the rest goes on.
rc=0
scripts/windows-test.sh || rc=$?
if [ "$rc" = 3 ]; then
  echo "test: THE WINDOWS BUILD AND ITS TESTS DID NOT RUN (see above)" >&2
elif [ "$rc" != 0 ]; then
  exit "$rc"
fi

# Fuzzing: the answer reader over arbitrary bytes, briefly.
cmake --preset fuzz >/dev/null
cmake --build --preset fuzz -j "$jobs" --target answer_reader_fuzz
mkdir -p build-fuzz/corpus
cp tests/fuzz/seeds/* build-fuzz/corpus/
build-fuzz/bin/answer_reader_fuzz -max_total_time="${KAV_FUZZ_SECONDS:-20}" -max_len=8192 \
  -print_final_stats=0 build-fuzz/corpus 2>build-fuzz/fuzz.log || { tail -40 build-fuzz/fuzz.log; exit 1; }
echo "fuzz: answer reader ran $(grep -o 'Done [0-9]* runs' build-fuzz/fuzz.log | head -1 | cut -d' ' -f2) inputs without a fault"
