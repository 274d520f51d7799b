#!/usr/bin/env bash
# Runs a Windows program that opens windows under Wine on a virtual display:
#   run-windowed.sh PROGRAM.exe [ARGUMENTS...]
# Wine prefix: $KAV_WINE_PREFIX (ctest gives the build folder's wine/, the
# one scripts/windows-wine.sh prepares), else $WINEPREFIX, else ./wine-windowed;
# it is made on first use (20-40 s). Without a window manager
# Wine would wait 2 s for every window it hides, so its windows are left
# unmanaged. A display that is already there ($DISPLAY) is used as it is.
set -euo pipefail
prefix=${KAV_WINE_PREFIX:-${WINEPREFIX:-$PWD/wine-windowed}}
export WINEPREFIX=$prefix WINEDEBUG=${WINEDEBUG:--all}
command -v wine >/dev/null || { echo "run-windowed: no wine on this machine" >&2; exit 1; }
if [ -n "${DISPLAY:-}" ]; then
  display=()
else
  command -v xvfb-run >/dev/null || { echo "run-windowed: no display and no xvfb-run" >&2; exit 1; }
  display=(xvfb-run -a -s "-screen 0 1024x768x24")
fi
mkdir -p "$prefix"
wine reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /d N /f >/dev/null 2>&1
"${display[@]}" wine "$@"
