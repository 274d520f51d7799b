#!/usr/bin/env bash
# The installer's autostart across upgrades, under Wine: a silent first
# install leaves it off; a StartUp shortcut the first install made (as its
# "Sim" does) survives a silent upgrade (/S, how an upgrade is pushed), and
# one the operator went without stays away; the uninstaller removes it.
# Exits 3 when the Windows half could not run.
set -euo pipefail
cd "$(dirname "$0")/.."
me=windows-autostart
. scripts/windows-wine.sh

(cd build-windows && cpack -G NSIS >cpack.log 2>&1) || { tail -40 build-windows/cpack.log; exit 1; }
installer=$(ls -t build-windows/KavComanda-*-win64.exe | head -1)
stamp "installer $installer"

drive_c=$WINEPREFIX/drive_c
prog="$drive_c/Program Files/KavComanda"
# The uninstaller copies itself away and returns at once: wait for it.
uninstall() {
  [ -f "$prog/Desinstalar.exe" ] || return 0
  wine "$prog/Desinstalar.exe" /S
  for _ in $(seq 60); do [ -f "$prog/bin/kavcomanda.exe" ] || break; sleep 0.5; done
}
# Wine runs the installer as an administrator: the shortcuts are all users'
# (C:\ProgramData).
programs="$drive_c/ProgramData/Microsoft/Windows/Start Menu/Programs"
startup="$programs/StartUp"
shortcut="$startup/KavComanda.lnk"
install() {
  wine "$installer" /S
  [ -f "$prog/bin/kavcomanda.exe" ] || { echo "$me: the installer did not place the program"; exit 1; }
}

uninstall
rm -f "$shortcut"
install
[ ! -e "$shortcut" ] || { echo "$me: a silent first install started the monitor with Windows"; exit 1; }
stamp "silent first install: no autostart"

# The shortcut the first install's "Sim" makes: the Start menu's, in StartUp.
menu=$(find "$programs" -name KavComanda.lnk -not -path "*/StartUp/*" | head -1)
[ -n "$menu" ] || { echo "$me: the installer made no Start-menu shortcut"; exit 1; }
mkdir -p "$startup"
cp "$menu" "$shortcut"
install
[ -e "$shortcut" ] || { echo "$me: a silent upgrade removed the StartUp shortcut"; exit 1; }
install
[ -e "$shortcut" ] || { echo "$me: a second silent upgrade removed the StartUp shortcut"; exit 1; }
stamp "silent upgrades keep the autostart"

rm -f "$shortcut"
install
[ ! -e "$shortcut" ] || { echo "$me: a silent upgrade started the monitor with Windows unasked"; exit 1; }
stamp "silent upgrade keeps the autostart off"

cp "$menu" "$shortcut"
uninstall
[ ! -e "$shortcut" ] || { echo "$me: the uninstaller left the StartUp shortcut"; exit 1; }
stamp "uninstalled; StartUp shortcut removed"
echo "$me: passed"
