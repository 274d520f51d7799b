#!/usr/bin/env bash
# The Windows half: builds the dependencies and the MinGW-w64 cross build,
# runs the test suite under Wine, builds the installer, installs it silently
# under Wine, runs the installed program in console mode for one check
# against the stand-in web application, and uninstalls it.
#
# Wine runs in its own prefix (build-windows/wine), so nothing here touches
# the user's ~/.wine. KAV_WINDOWS_SKIP_INSTALLER=1 stops after the tests.
set -euo pipefail
cd "$(dirname "$0")/.."
src=$PWD

loud() { printf '\n########\n######## windows-test: %s\n########\n\n' "$*" >&2; }
for tool in wine x86_64-w64-mingw32-g++-posix makensis; do
  command -v "$tool" >/dev/null || { loud "$tool is missing: the Windows build and its tests did NOT run"; exit 3; }
done

started=$(date +%s)
stamp() { echo "windows-test: $* ($(( $(date +%s) - started )) s)"; }
jobs=$(nproc)

scripts/windows-deps.sh

export WINEPREFIX=$src/build-windows/wine WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
mkdir -p "$src/build-windows"
if [ ! -f "$WINEPREFIX/system.reg" ]; then
  wineboot -i >/dev/null 2>&1 || true
  wineserver -w
  stamp "Wine prefix ready"
fi

cmake --preset windows >/dev/null
cmake --build --preset windows -j "$jobs"
stamp "cross build done"
ctest --preset windows -j "$jobs"
stamp "tests under Wine done"
[ "${KAV_WINDOWS_SKIP_INSTALLER:-0}" = 1 ] && exit 0

# --- The installer ---------------------------------------------------------------
(cd build-windows && cpack -G NSIS >cpack.log 2>&1) || { tail -40 build-windows/cpack.log; exit 1; }
installer=$(ls -t build-windows/KavComanda-*-win64.exe | head -1)
stamp "installer $installer"

drive_c=$WINEPREFIX/drive_c
rm -rf "$drive_c/OrbelaTeknovarium" "$drive_c/xampp"
wine "$installer" /S
wineserver -w
prog="$drive_c/Program Files/KavComanda"
for f in "$prog/bin/kavcomanda.exe" "$prog/bin/kav-erpfile.exe" "$drive_c/OrbelaTeknovarium/Kav/WGET.EXE" \
         "$prog/Desinstalar.exe"; do
  [ -f "$f" ] || { echo "windows-test: the installer did not place $f"; exit 1; }
done
for d in OrbelaTeknovarium/Temp OrbelaTeknovarium/Kav/Arquivos OrbelaTeknovarium/Spool xampp/htdocs/Comandas/FILES; do
  [ -d "$drive_c/$d" ] || { echo "windows-test: the installer did not make C:\\$d"; exit 1; }
done
stamp "installed"

# --- One check of the installed program against the stand-in web application ----
webstub=""
for candidate in build/bin/kav-webstub build-test/bin/kav-webstub; do
  [ -x "$candidate" ] && { webstub=$candidate; break; }
done
if [ -z "$webstub" ]; then
  cmake --preset default >/dev/null && cmake --build --preset default -j "$jobs" --target kav-webstub
  webstub=build/bin/kav-webstub
fi
work=$src/build-windows/installed-check
rm -rf "$work"; mkdir -p "$work/queue"
cp -r tools/webstub/samples/* "$work/queue/"
"$webstub" --port 0 --docroot "$drive_c/xampp/htdocs/Comandas" --queue "$work/queue" >"$work/webstub.out" 2>&1 &
webstub_pid=$!
trap 'kill "$webstub_pid" 2>/dev/null || true' EXIT
for _ in $(seq 50); do [ -s "$work/webstub.out" ] && break; sleep 0.1; done
port=$(head -1 "$work/webstub.out")

# Started from drive Z: (this folder), as an operator might: every path of the
# program still lands on drive C:. Standard input is a pipe; "s" ends it once
# the first check has had time to run.
(sleep 14; echo s) | KAVCOMANDA_UI=console KAVCOMANDA_WEB_HOST="127.0.0.1:$port" \
  timeout 120 wine "$prog/bin/kavcomanda.exe" >"$work/console.out" 2>&1 || {
  cat "$work/console.out"; echo "windows-test: the installed program did not end on \"s\""; exit 1; }
wineserver -w
log=$(ls "$drive_c"/OrbelaTeknovarium/LOGCMD_*.txt 2>/dev/null | head -1)
fail() { echo "windows-test: installed program: $*"; cat "$work/console.out"; [ -n "$log" ] && cat "$log"; exit 1; }
grep -q 'Checando Comandas' "$work/console.out" || fail "no check on the console"
[ -n "$log" ] && grep -q 'Checando Comandas' "$log" || fail "no log line"
grep -q 'COMANDO=CMD_IMP' "$work/queue/requests.log" 2>/dev/null || fail "no request reached the web application"
[ -f "$drive_c/OrbelaTeknovarium/Temp/GET_KAVCMD.RET" ] || fail "no answer file in C:\\OrbelaTeknovarium\\Temp"
[ -z "$(ls "$work/queue/CMD_IMP/"*.txt 2>/dev/null)" ] || fail "the queued order was not fetched"
ls -R "$drive_c/OrbelaTeknovarium/Spool" | grep -q '\.txt$' || fail "no ticket in the spool folder"
stamp "installed program checked ($(grep -c 'GET_KAVCMD' "$work/queue/requests.log") requests)"

# --- Uninstall: the program goes, logs, spool and ERP files stay ------------------
wine "$prog/Desinstalar.exe" /S _?="C:\\Program Files\\KavComanda"
wineserver -w
[ ! -f "$prog/bin/kavcomanda.exe" ] || { echo "windows-test: the uninstaller left the program"; exit 1; }
[ -n "$(ls "$drive_c"/OrbelaTeknovarium/LOGCMD_*.txt 2>/dev/null)" ] || { echo "windows-test: the uninstaller took the log"; exit 1; }
[ -d "$drive_c/OrbelaTeknovarium/Spool" ] || { echo "windows-test: the uninstaller took the spool"; exit 1; }
stamp "uninstalled; logs and spool kept"
