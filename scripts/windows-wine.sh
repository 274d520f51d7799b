# Sourced by scripts/windows-suite.sh and scripts/windows-acceptance.sh: the
# Wine side both run on. Checks the tools (exit 3 when one is missing: the
# Windows half did not run), prepares the Wine prefix, a display and one Wine
# server for the whole run, and undoes on exit what the run set up (each
# script adds its own steps to on_exit).
#
# Wine runs in its own prefix (build-windows/wine), so nothing here touches
# the user's ~/.wine. The sourcing script sets `me` (its name in messages)
# and is in the source folder.
src=$PWD

loud() { printf '\n########\n######## %s: %s\n########\n\n' "$me" "$*" >&2; }
for tool in wine x86_64-w64-mingw32-g++-posix makensis; do
  command -v "$tool" >/dev/null || { loud "$tool is missing: the Windows build and its tests did NOT run"; exit 3; }
done

started=$(date +%s)
stamp() { echo "$me: $* ($(( $(date +%s) - started )) s)"; }
jobs=$(nproc)

scripts/windows-deps.sh

export WINEPREFIX=$src/build-windows/wine WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
mkdir -p "$src/build-windows"
if [ ! -f "$WINEPREFIX/system.reg" ]; then
  wineboot -i >/dev/null 2>&1 || true
  wineserver -w
  stamp "Wine prefix ready"
fi

# Windows need a display, and Wine's services take the one they start with:
# without a display of our own, a virtual one for the whole run, shared by
# the services started below and every test.
xvfb_pid=""
on_exit=()  # commands run on exit, before the Wine server and the display end
cleanup() {
  for step in "${on_exit[@]}"; do eval "$step"; done
  wineserver -k 2>/dev/null
  [ -n "$xvfb_pid" ] && kill "$xvfb_pid" 2>/dev/null
  return 0
}
trap cleanup EXIT
if [ -z "${DISPLAY:-}" ]; then
  command -v Xvfb >/dev/null || { loud "Xvfb is missing: the Windows build and its tests did NOT run"; exit 3; }
  for n in $(seq 90 140); do [ -e "/tmp/.X$n-lock" ] || break; done
  Xvfb ":$n" -screen 0 1024x768x24 -nolisten tcp >/dev/null 2>&1 &
  xvfb_pid=$!
  export DISPLAY=":$n"
  for _ in $(seq 100); do [ -e "/tmp/.X11-unix/X$n" ] && break; sleep 0.1; done
fi

# One Wine server and its services for the whole run, started here: a test
# program that started them would hand them its output pipe, and ctest would
# wait for them to end.
wineserver -k 2>/dev/null || true  # one an earlier run left (-p refuses to start beside it)
wineserver -w
wineserver -p
wine cmd.exe /c exit >/dev/null 2>&1 </dev/null

cmake --preset windows ${KAV_WINDOWS_DEPS:+-DKAV_WINDOWS_DEPS=$KAV_WINDOWS_DEPS} >/dev/null
# A sourcing script may name the only targets it needs in `wine_targets`.
cmake --build --preset windows -j "$jobs" ${wine_targets:+--target $wine_targets}
stamp "cross build done"
