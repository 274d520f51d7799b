#!/usr/bin/env bash
# Prepares a CUPS printer for the print service's delivery tests: a PDF
# printer (cups-pdf) named KAVTEST, or the name given as $1.
#
# With a folder as $2 the printer writes its PDFs there, each named
# job_<number>-<job title>.pdf, through a cups-pdf configuration of its own
# (/etc/cups/cups-pdf-<printer>.conf); a printer of that name that is not a
# PDF printer is left alone (exit 1).
#
# Installs cups and printer-driver-cups-pdf when they are missing, starts the
# CUPS scheduler when it is not running (both need root, as CI has), and adds
# the printer. Exits 0 when the printer takes jobs, 1 otherwise; the tests
# that need it then say so and skip.
set -u
printer="${1:-KAVTEST}"
out="${2:-}"
root=0
[ "$(id -u)" = 0 ] && root=1

say() { echo "cups-test-printer: $*"; }

if ! command -v cupsd >/dev/null 2>&1 || ! command -v lpadmin >/dev/null 2>&1 ||
   [ ! -e /usr/lib/cups/backend/cups-pdf ]; then
  if [ "$root" = 1 ]; then
    say "installing cups and printer-driver-cups-pdf"
    DEBIAN_FRONTEND=noninteractive apt-get install -y -q cups printer-driver-cups-pdf >/dev/null 2>&1 ||
      { apt-get update -q >/dev/null 2>&1 &&
        DEBIAN_FRONTEND=noninteractive apt-get install -y -q cups printer-driver-cups-pdf >/dev/null 2>&1; } ||
      { say "could not install cups"; exit 1; }
  else
    say "cups is not installed and this is not root"
    exit 1
  fi
fi

running() { lpstat -r 2>/dev/null | grep -q "is running"; }

if ! running; then
  if [ "$root" = 1 ]; then
    say "starting cupsd"
    cupsd >/dev/null 2>&1 || true
    for _ in $(seq 1 50); do running && break; sleep 0.2; done
  fi
  running || { say "no CUPS scheduler running and none could be started"; exit 1; }
fi

uri=cups-pdf:/
if [ -n "$out" ]; then
  uri=cups-pdf:/$printer
  device=$(lpstat -v "$printer" 2>/dev/null | sed -n 's/^device for [^:]*: //p')
  case "$device" in
    "" | cups-pdf:*) ;;
    *) say "printer $printer exists and prints to $device, not to a PDF file: left alone"; exit 1 ;;
  esac
  [ "$root" = 1 ] || { say "a PDF folder of its own needs root"; exit 1; }
  mkdir -p "$out" || { say "cannot make $out"; exit 1; }
  printf 'Out %s\nLabel 1\n' "$out" >"/etc/cups/cups-pdf-$printer.conf"
fi

if ! lpstat -p "$printer" >/dev/null 2>&1; then
  model="$(lpinfo -m 2>/dev/null | awk '/CUPS-PDF_noopt/ {print $1; exit}')"
  if [ -n "$model" ]; then
    lpadmin -p "$printer" -E -v "$uri" -m "$model" >/dev/null 2>&1
  else
    ppd="$(ls /usr/share/ppd/cups-pdf/CUPS-PDF_noopt.ppd 2>/dev/null | head -n 1)"
    [ -n "$ppd" ] && lpadmin -p "$printer" -E -v "$uri" -P "$ppd" >/dev/null 2>&1
  fi
elif [ -n "$out" ]; then
  lpadmin -p "$printer" -v "$uri" >/dev/null 2>&1
fi
cupsenable "$printer" >/dev/null 2>&1 || true
cupsaccept "$printer" >/dev/null 2>&1 || true

if lpstat -p "$printer" 2>/dev/null | grep -q "enabled" && lpstat -a "$printer" 2>/dev/null | grep -q "accepting"; then
  say "printer $printer ready"
  exit 0
fi
say "printer $printer could not be set up"
exit 1
