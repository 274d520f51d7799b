#!/usr/bin/env bash
# Sets up and runs the monitor on embedded defaults: a root folder laid out
# under $KAVCOMANDA_ROOT (default ~/KavComanda) with sample ERP files, the
# stand-in web application on a loopback port with sample work queued, and
# the printers that work names (COZINHA, BAR, CAIXA) as CUPS PDF printers
# where a CUPS scheduler can run; every ticket is also kept in the spool folder.
#
# It prints only on PDF printers it made itself (noted in ROOT/quickstart-printers):
# a printer of one of those names that it did not make (a real kitchen
# printer) is left alone, and the sample work for it stays in the spool.
set -euo pipefail
cd "$(dirname "$0")/.."
. scripts/stand-in.sh

scripts/setup.sh
cmake --preset default >/dev/null
# Only what runs here: the monitor, the ERP files' tool, the stand-in.
cmake --build --preset default -j "$(nproc)" --target kavcomanda kav_erpfile kav-webstub

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

# The sample work's printers, as PDF printers (cups-pdf) writing into a
# folder of the root. Setting them up needs root where CUPS is missing or not
# running; without them every ticket stays in the spool folder, marked as not
# delivered. A printer of that name the quick start did not make is never
# touched, and the sample work names in its place a printer that does not
# exist, so that nothing reaches it.
spool="$root/OrbelaTeknovarium/Spool"
pdfs="$root/PDF"
made="$root/quickstart-printers"  # the printers this quick start made, one a line
ours() { grep -qx "$1" "$made" 2>/dev/null; }
device_of() { { lpstat -v "$1" 2>/dev/null || true; } | sed -n 's/^device for [^:]*: //p'; }
# The scheduler first: a printer is known to exist only while it runs.
running() { lpstat -r 2>/dev/null | grep -q "is running"; }
if ! running && [ "$(id -u)" = 0 ] && command -v cupsd >/dev/null; then
  cupsd >/dev/null 2>&1 || true
  for _ in $(seq 50); do running && break; sleep 0.2; done
fi
ready=() kept=() why=""
for printer in COZINHA BAR CAIXA; do
  device=$(device_of "$printer")
  if [ -n "$device" ] && ! { ours "$printer" && [ "$device" = "cups-pdf:/$printer" ]; }; then
    echo "quickstart: a printer $printer already exists here (it prints to $device) and was not made by the quick start: left alone, nothing is printed on it"
    # The sample work names KAVQS-<name> instead: no such printer, so its
    # tickets stay in the spool.
    { grep -rlZ "<$printer>" "$queue" || true; } | LC_ALL=C xargs -0 -r sed -i "s/<$printer>/<KAVQS-$printer>/g"
    kept+=("KAVQS-$printer")
    continue
  fi
  if said=$(scripts/cups-test-printer.sh "$printer" "$pdfs" 2>&1); then
    ours "$printer" || echo "$printer" >>"$made"
    ready+=("$printer")
  else
    why=${said##*cups-test-printer: }
    kept+=("$printer")
  fi
done
if [ "${#ready[@]}" -gt 0 ]; then
  mkdir -p "$pdfs"
  echo "quickstart: CUPS PDF printers ${ready[*]} ready; their tickets land as PDF files in $pdfs"
fi
if [ "${#kept[@]}" -gt 0 ]; then
  [ -z "$why" ] || echo "quickstart: no CUPS PDF printer made ($why)."
  echo "quickstart: the tickets for ${kept[*]} are not printed; they stay in the spool folder $spool/<printer>/, marked -NAO-ENTREGUE"
fi
echo "quickstart: every ticket is kept in $spool/<printer>/"
echo "quickstart: more work for the stand-in web application: copy an answer into $queue/<command>/ (served ones are in $queue/<command>/served/)"

echo "quickstart: root $root, web application on 127.0.0.1:$port, log $root/OrbelaTeknovarium/LOGCMD_$(date +%Y%m%d).txt"
export KAVCOMANDA_ROOT="$root" KAVCOMANDA_WEB_HOST="127.0.0.1:$port" no_proxy="127.0.0.1,localhost"
build/bin/kavcomanda
