#!/usr/bin/env bash
# Sets up and runs the monitor on embedded defaults: a root folder laid out
# under $KAVCOMANDA_ROOT (default ~/KavComanda) with sample ERP files, the
# stand-in web application on a loopback port with sample work queued, and
# the printers that work names (COZINHA, BAR, CAIXA) as CUPS PDF printers
# where a CUPS scheduler can run; every ticket is also kept in the spool folder.
set -euo pipefail
cd "$(dirname "$0")/.."
. scripts/stand-in.sh

scripts/setup.sh
cmake --preset default >/dev/null
cmake --build --preset default

root=${KAVCOMANDA_ROOT:-$HOME/KavComanda}
scripts/layout-root.sh "$root"

sample_erp_files build/bin "$root"

# Sample work: one order for two printers, a cancellation and a bill, queued
# anew at every start.
queue="$root/webstub-queue"
mkdir -p "$queue"
cp -r tools/standins/webstub/samples/* "$queue/"

webstub=""
trap '[ -z "$webstub" ] || kill "$webstub" 2>/dev/null || true' EXIT
start_webstub build/bin "$root" "$queue" || exit 1

# The sample work's printers, as PDF printers (cups-pdf). Setting them up
# needs root where CUPS is missing or not running; without them every ticket
# stays in the spool folder, marked as not delivered.
spool="$root/OrbelaTeknovarium/Spool"
printers=1
for printer in COZINHA BAR CAIXA; do
  if ! said=$(scripts/cups-test-printer.sh "$printer" 2>&1); then
    printers=0
    why=${said##*cups-test-printer: }
    break
  fi
done
if [ "$printers" = 1 ]; then
  pdfs=$(awk '$1 == "Out" {print $2; exit}' /etc/cups/cups-pdf.conf 2>/dev/null)
  pdfs=${pdfs:-'${HOME}/PDF'}
  pdfs=${pdfs//'${HOME}'/$HOME}
  pdfs=${pdfs//'${USER}'/$(id -un)}
  echo "quickstart: CUPS PDF printers COZINHA, BAR and CAIXA ready; printed tickets land as PDF files in $pdfs"
  echo "quickstart: every ticket is also kept in $spool/<printer>/"
else
  echo "quickstart: no CUPS printers for the sample work ($why)."
  echo "quickstart: tickets are not printed; they stay in the spool folder $spool/<printer>/, marked -NAO-ENTREGUE"
fi

echo "quickstart: root $root, web application on 127.0.0.1:$port, log $root/OrbelaTeknovarium/LOGCMD_$(date +%Y%m%d).txt"
export KAVCOMANDA_ROOT="$root" KAVCOMANDA_WEB_HOST="127.0.0.1:$port" no_proxy="127.0.0.1,localhost"
build/bin/kavcomanda
