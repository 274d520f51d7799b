#!/usr/bin/env bash
# Installs, from Debian's packages, everything KavComanda needs to build, run
# and test. Runs apt-get only when something is missing.
set -euo pipefail

packages=(
  cmake ninja-build g++ pkg-config
  clang libclang-rt-14-dev         # the fuzz target of the answer reader
  libgtest-dev libgmock-dev        # tests
  qt6-base-dev libgl-dev libxcb1-dev   # windows; whether an X server answers
  libsqlite3-dev sqlite3           # the ERP's keyed files
  libcups2-dev cups printer-driver-cups-pdf   # printing
  poppler-utils                    # the rendered tickets of the README (scripts/render-ticket.sh)
  libcpp-httplib-dev               # the stand-in web application
  apache2 libapache2-mod-php       # the PHP stand-in of the web application
  wget                             # requests to the web application
  util-linux coreutils             # flock, date and sleep of the command runner's guard
  xvfb xauth fonts-dejavu-core     # windows without a display
  prometheus                       # promtool, which checks the metrics file
  faketime                         # libfaketime: the real program under a clock set ahead and back
  python3                          # the loopback network printer and the byte checks of the raw print run
  # The Windows build, its tests under Wine and its installer
  # (scripts/windows-deps.sh, scripts/windows-suite.sh)
  g++-mingw-w64-x86-64-posix gcc-mingw-w64-x86-64-posix binutils-mingw-w64-x86-64
  wine wine64 nsis googletest
  dpkg-dev make xz-utils ca-certificates   # Debian source packages and their builds
)

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0

sudo=""
[ "$(id -u)" -eq 0 ] || sudo="sudo"
echo "setup: installing ${missing[*]}"
$sudo apt-get update -qq
DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
