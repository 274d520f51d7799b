#!/usr/bin/env bash
# The Windows suite: builds the dependencies and the MinGW-w64 cross build
# and runs the test suite under Wine (ctest --preset windows), the spooler
# tests printing through Wine to a CUPS PDF printer where CUPS can run.
# scripts/windows-acceptance.sh then installs and runs the program itself.
# Exits 3 when the Windows half could not run (no Wine, MinGW-w64, makensis
# or display).
set -euo pipefail
cd "$(dirname "$0")/.."
me=windows-suite
. scripts/windows-wine.sh

# --- Printers: CUPS PDF queues, which Wine shows as Windows printers -------------
# Wine maps every CUPS printer to a Windows printer of the same name (port
# "CUPS:<name>") each time a program starts, so programs under Wine print
# through GDI and Wine's spooler to cups-pdf. KAVTEST serves the spooler tests
# under Wine; COZINHA, BAR and CAIXA, the printers of the sample work, are set
# up after the suite (some of its tests name them). Where CUPS cannot run,
# the printing is not checked, and the run says so loudly.
if ! said=$(scripts/cups-test-printer.sh KAVTEST 2>&1); then
  loud "no CUPS PDF printer (${said##*cups-test-printer: }): printing through Wine is NOT checked"
fi
ctest --preset windows -j "$jobs"
stamp "tests under Wine done"
