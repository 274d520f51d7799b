#!/usr/bin/env bash
# ESC/POS from the Windows half under Wine, checked byte for byte: the
# cross-built kav-spool prints test pages through Wine's spooler and over
# the network to printers on loopback ports (scripts/loopback-printer.py),
# and what reached them is read back.
#   1. modo = escpos: StartDocPrinter "RAW" + WritePrinter into a CUPS raw
#      queue whose socket backend writes to a loopback printer: the page must
#      arrive as made (initialise, the chosen code page, the large number,
#      the sample line in each code page, the cut, the buzzer), once; and a
#      ticket of the spool reprinted the same way (its number large, the
#      "2ª via" mark, its text in the chosen code page).
#   2. modo = driver on a CUPS queue whose driver's default paper is A4: the
#      Windows outlet reads the paper (DocumentProperties,
#      DeviceCapabilities) and kav-spool says the ticket would take a whole
#      sheet; with an 80 mm roll paper it says nothing.
#   3. modo = escpos-rede to a loopback printer that answers DLE EOT: the
#      page arrives; to one out of paper: nothing is written and "sem papel"
#      is said.
# The queues are made under names of their own and removed after; other
# queues are left alone. Needs root for lpadmin (or a scheduler that lets
# this user add queues). Exits 3 when it could not run, 1 when a check fails.
set -euo pipefail
cd "$(dirname "$0")/.."
me=windows-raw-print
wine_targets=kav_spool  # only what this run needs of the cross build
. scripts/windows-wine.sh

spool_exe=$src/build-windows/bin/kav-spool.exe
drive_c=$WINEPREFIX/drive_c
ini=$drive_c/OrbelaTeknovarium/KAV/kavcomanda.ini
work=$(mktemp -d)
listeners=()
queues=()
ini_kept=""
undo_raw() {
  for pid in "${listeners[@]}"; do kill "$pid" 2>/dev/null; done
  for q in "${queues[@]}"; do lpadmin -x "$q" 2>/dev/null; rm -rf "$drive_c/OrbelaTeknovarium/Spool/$q"; done
  if [ -n "$ini_kept" ]; then mv -f "$ini_kept" "$ini"; else rm -f "$ini"; fi
  rm -rf "$work"
  return 0
}
on_exit+=(undo_raw)
failed=0
fail() { echo "$me: FAILED: $*"; failed=1; }

if ! lpstat -r 2>/dev/null | grep -q "is running" && [ "$(id -u)" = 0 ]; then
  cupsd >/dev/null 2>&1 || true
  for _ in $(seq 50); do lpstat -r 2>/dev/null | grep -q "is running" && break; sleep 0.2; done
fi
lpstat -r 2>/dev/null | grep -q "is running" || { loud "no CUPS scheduler: the raw path was NOT checked"; exit 3; }

mkdir -p "$drive_c/OrbelaTeknovarium/KAV" "$drive_c/OrbelaTeknovarium/Temp" "$drive_c/OrbelaTeknovarium/Spool"
if [ -f "$ini" ]; then ini_kept=$work/kavcomanda.ini.kept; cp -p "$ini" "$ini_kept"; fi

# listen NAME [--paper-end]: a loopback printer writing to $work/NAME.bin; its port in $port.
listen() {
  local name=$1; shift
  python3 scripts/loopback-printer.py --port-file "$work/$name.port" --out "$work/$name.bin" "$@" &
  listeners+=($!)
  for _ in $(seq 50); do [ -s "$work/$name.port" ] && break; sleep 0.1; done
  port=$(cat "$work/$name.port")
}

# The bytes of a printer, once they end with $2 (hex), within 60 s.
wait_bytes() {
  for _ in $(seq 120); do
    [ -f "$work/$1.bin" ] && python3 -c "import sys; sys.exit(0 if open(sys.argv[1],'rb').read().endswith(bytes.fromhex(sys.argv[2])) else 1)" \
      "$work/$1.bin" "$2" && return 0
    sleep 0.5
  done
  return 1
}

# check_page NAME CODEPAGE: the test page as kav-spool makes it for an ESC/POS
# profile with the page CODEPAGE (Python's codec name) and the buzzer esc-b.
check_page() {
  python3 - "$work/$1.bin" "$2" <<'PY'
import sys
data = open(sys.argv[1], "rb").read()
chosen = sys.argv[2]
select = {"cp860": 3, "cp850": 2, "cp858": 19, "cp1252": 16}
sample = "Ação Salão feijão açúcar pão ÇÃÕÉÊÍÓÚ"
problems = []
def need(what, piece):
    if piece not in data:
        problems.append(what)
if not data.startswith(b"\x1b@" + bytes([0x1b, 0x74, select[chosen]])):
    problems.append("ESC @ then ESC t of %s first" % chosen)
if data.count(b"\x1b@") != 1:
    problems.append("one page (ESC @ %d times)" % data.count(b"\x1b@"))
need("the large number", b"\x1d!\x11*** COMANDA 0000 ***\n\x1d!\x00")
for page, label in (("cp860", "cp860"), ("cp850", "cp850"), ("cp858", "cp858"), ("cp1252", "wpc1252")):
    need("the sample line in " + label,
         bytes([0x1b, 0x74, select[page]]) + label.encode() + b":\n" + sample.encode(page, "replace") + b"\n")
need("the profile's code page in its own page", ("pagina_codigo = " + ("wpc1252" if chosen == "cp1252" else chosen)).encode())
if not data.endswith(bytes([0x1b, 0x74, select[chosen]]) + b"\x1bd\x04\x1dV\x01\x1bB\x03\x02"):
    problems.append("the feed, the partial cut and the buzzer last")
print("%d bytes; %s" % (len(data), "as made" if not problems else "missing: " + "; ".join(problems)))
sys.exit(1 if problems else 0)
PY
}

spool() { wine "$spool_exe" "$@" 2>&1 | tr -d '\r'; return "${PIPESTATUS[0]}"; }

# --- 1. modo = escpos through Wine's spooler into a CUPS raw queue ----------------
listen raw
raw_queue=KAVWRAW$$
lpadmin -p "$raw_queue" -E -v "socket://127.0.0.1:$port" -m raw && queues+=("$raw_queue") ||
  { loud "could not add the CUPS raw queue: the raw path was NOT checked"; exit 3; }
cupsenable "$raw_queue"; cupsaccept "$raw_queue"
listen net
net_port=$port
listen netpaper --paper-end
paper_port=$port
cat >"$ini" <<EOF
[impressora $raw_queue]
modo = escpos
pagina_codigo = cp850
aviso_sonoro = esc-b

[impressora REDE]
modo = escpos-rede
endereco = 127.0.0.1:$net_port
pagina_codigo = wpc1252
aviso_sonoro = esc-b

[impressora REDESEMPAPEL]
modo = escpos-rede
endereco = 127.0.0.1:$paper_port
aviso_sonoro = esc-b
EOF
said=$(spool teste "$raw_queue") || fail "kav-spool teste $raw_queue: $said"
echo "$said"
if wait_bytes raw 1b420302; then
  check_page raw cp850 || fail "the raw page through Wine's spooler is not as made"
  sleep 2
  check_page raw cp850 >/dev/null || fail "more than one page arrived"
else
  fail "no raw page reached the CUPS raw queue's printer in 60 s"
fi
stamp "raw path through Wine's spooler checked"

# A ticket of the spool reprinted by kav-spool: the order number large, the
# "2ª via" mark, the text in cp850, the cut and the buzzer; one job.
folder=$drive_c/OrbelaTeknovarium/Spool/$raw_queue
mkdir -p "$folder"
python3 - "$folder/20191127-14380500-000001.txt" <<'PY'
import sys
lines = ["=" * 48, " " * 14 + "*** COMANDA 0012 ***", " " * 16 + "27/11/2019 14:38", "=" * 48,
         "Impressora: " + sys.argv[1].split("/")[-2], "Feijão tropeiro", "-" * 48]
open(sys.argv[1], "wb").write("".join(l + "\r\n" for l in lines).encode("cp1252"))
PY
: >"$work/raw.bin"
said=$(spool reprint "$raw_queue" 20191127-14380500-000001) || fail "kav-spool reprint $raw_queue: $said"
echo "$said"
if wait_bytes raw 1b420302; then
  python3 - "$work/raw.bin" <<'PY' || fail "the reprinted ticket through Wine's spooler is not as made"
import sys
data = open(sys.argv[1], "rb").read()
want = [("ESC @ and ESC t 2 first", data.startswith(b"\x1b@\x1bt\x02")),
        ("one job", data.count(b"\x1b@") == 1),
        ("the number large", b"\x1ba\x01\x1d!\x11*** COMANDA 0012 ***\n\x1d!\x00\x1ba\x00" in data),
        ("the 2a via mark", (" " * 21 + "2ª via\n").encode("cp850") in data),
        ("the item in cp850", "Feijão tropeiro\n".encode("cp850") in data),
        ("feed, cut, buzzer last", data.endswith(b"\x1bd\x04\x1dV\x01\x1bB\x03\x02"))]
missing = [what for what, ok in want if not ok]
print("%d bytes; %s" % (len(data), "as made" if not missing else "missing: " + "; ".join(missing)))
sys.exit(1 if missing else 0)
PY
else
  fail "the reprinted ticket did not reach the CUPS raw queue's printer in 60 s"
fi
stamp "a ticket reprinted through Wine's raw path checked"

# --- 2. modo = driver: the driver's default paper ---------------------------------
ppd=$src/tests/printing/roll-80mm.ppd
if [ -f "$ppd" ]; then
  listen sheet
  sheet_queue=KAVWA4$$
  roll_queue=KAVWROLL$$
  lpadmin -p "$sheet_queue" -E -v "socket://127.0.0.1:$port" -P "$ppd" -o PageSize=A4 && queues+=("$sheet_queue")
  lpadmin -p "$roll_queue" -E -v "socket://127.0.0.1:$port" -P "$ppd" -o PageSize=X80MMY200MM && queues+=("$roll_queue")
  said=$(spool teste "$sheet_queue") || fail "kav-spool teste $sheet_queue: $said"
  echo "$said"
  grep -q "Impressora $sheet_queue: o driver usa papel A4" <<<"$said" || fail "A4 under the driver was not named"
  said=$(spool teste "$roll_queue") || fail "kav-spool teste $roll_queue: $said"
  echo "$said"
  ! grep -q "o driver usa papel" <<<"$said" || fail "a roll was named as a sheet"
  stamp "the driver's default paper read through Wine checked"
else
  loud "no $ppd: the driver's paper was NOT checked"
fi

# --- 3. modo = escpos-rede from Wine ----------------------------------------------
said=$(spool teste REDE) || fail "kav-spool teste REDE: $said"
echo "$said"
if wait_bytes net 1b420302; then
  check_page net cp1252 || fail "the network page is not as made"
else
  fail "no page reached the network printer"
fi
if said=$(spool teste REDESEMPAPEL); then fail "a printer out of paper took the page: $said"; fi
echo "$said"
grep -q "sem papel" <<<"$said" || fail "the printer out of paper was not said: $said"
[ ! -s "$work/netpaper.bin" ] || fail "bytes were written to a printer out of paper"
stamp "network printers from Wine checked"

[ "$failed" = 0 ] || exit 1
stamp "all checked"
