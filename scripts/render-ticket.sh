#!/usr/bin/env bash
# Renders the sample item ticket and bill as a roll printer prints them, for
# the README: docs/ticket-item.png and docs/ticket-bill.png.
#
# The monitor runs once in console mode on a temporary root, against the
# stand-in web application, and prints on a CUPS PDF printer (KAVROLO) whose
# own paper is an 80 mm roll; the PDF pages are turned into small grey PNGs
# (pdftoppm), cut below the ticket. Needs root where CUPS is not running yet
# (scripts/cups-test-printer.sh), and the programs of the default preset
# (built when missing; KAV_BIN_DIR names another folder).
set -euo pipefail
cd "$(dirname "$0")/.."
. scripts/stand-in.sh

say() { echo "render-ticket: $*"; }
bin=${KAV_BIN_DIR:-build/bin}
printer=KAVROLO
resolution=150  # dots per inch: 80 mm is 472 pixels

command -v pdftoppm >/dev/null || { say "pdftoppm is missing (Debian: poppler-utils; scripts/setup.sh)"; exit 1; }
if [ ! -x "$bin/kavcomanda" ] || [ ! -x "$bin/kav-webstub" ] || [ ! -x "$bin/kav-erpfile" ]; then
  cmake --preset default >/dev/null
  cmake --build --preset default --target kavcomanda kav-webstub kav_erpfile
fi
scripts/cups-test-printer.sh "$printer" || { say "no CUPS PDF printer: nothing rendered"; exit 1; }
# The printer's own paper: an 80 mm roll, cut in pages far longer than a ticket.
lpadmin -p "$printer" -o PageSize=Custom.80x200mm

root=$(mktemp -d)
webstub=""
cleanup() {
  [ -n "$webstub" ] && kill "$webstub" 2>/dev/null || true
  rm -rf "$root"
}
trap cleanup EXIT
scripts/layout-root.sh "$root" >/dev/null
sample_erp_files "$bin" "$root" 2>/dev/null

# The sample order's kitchen items and the sample bill, both for the roll.
queue="$root/queue"
mkdir -p "$queue/CMD_IMP" "$queue/CMD_FEC"
{ head -n 1 tools/standins/webstub/samples/CMD_IMP/001.txt; grep -a '<COZINHA>' tools/standins/webstub/samples/CMD_IMP/001.txt; } |
  sed "s/<COZINHA>/<$printer>/" >"$queue/CMD_IMP/001.txt"
sed "s/<CAIXA>/<$printer>/" tools/standins/webstub/samples/CMD_FEC/001.txt >"$queue/CMD_FEC/001.txt"

start_webstub "$bin" "$root" "$queue" || exit 1

# One check (on the fifth second), then "sair".
(sleep 8; echo s; sleep 10; echo s) | KAVCOMANDA_ROOT="$root" KAVCOMANDA_UI=console KAVCOMANDA_WEB_HOST="127.0.0.1:$port" \
  no_proxy=127.0.0.1 "$bin/kavcomanda" >/dev/null

spool="$root/OrbelaTeknovarium/Spool/$printer"
mapfile -t tickets < <(ls "$spool" | grep '\.txt$' | sort)
[ ${#tickets[@]} = 2 ] || { say "expected 2 tickets in $spool, found ${#tickets[@]}"; exit 1; }

pdfs=$(awk '$1 == "Out" {print $2; exit}' /etc/cups/cups-pdf.conf 2>/dev/null)
pdfs=${pdfs:-'${HOME}/PDF'}
pdfs=${pdfs//'${HOME}'/$HOME}
pdfs=${pdfs//'${USER}'/$(id -un)}
for i in 0 1; do
  name=${tickets[$i]}
  base=${name%.txt}
  base=${base%-NAO-ENTREGUE}
  target=docs/ticket-$([ "$i" = 0 ] && echo item || echo bill).png
  pdf=""
  for _ in $(seq 600); do  # the PDF printer takes a moment, more when its queue is long
    pdf=$(ls -t "$pdfs"/"$base"*.pdf 2>/dev/null | head -n 1 || true)
    [ -n "$pdf" ] && pdfinfo "$pdf" >/dev/null 2>&1 && break  # written whole
    pdf=""
    sleep 0.5
  done
  [ -n "$pdf" ] || { say "no PDF of $base in $pdfs"; exit 1; }
  # Cut below the ticket: its lines at the roll's 7-point spacing and the
  # 4 mm margins above and below.
  lines=$(wc -l <"$spool/$name")
  height=$(( (lines * 7 + 2 * 12) * resolution / 72 + 1 ))
  pdftoppm -q -gray -png -r "$resolution" -singlefile -H "$height" "$pdf" "${target%.png}"
  say "$target from $pdf ($(stat -c %s "$target") bytes)"
done
