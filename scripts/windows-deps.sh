#!/usr/bin/env bash
# Builds what the Windows build needs from Debian's own packages, into
# build-windows-deps/ (or $KAV_WINDOWS_DEPS):
#   sqlite/      the SQLite amalgamation (sqlite3.c, sqlite3.h) from the source package
#   wget/        GNU Wget for Windows (wget.exe, no TLS), cross-built from the source package
# GoogleTest is built by the Windows build itself from /usr/src/googletest.
# Sources come through a private apt configuration whose deb-src entries are
# derived from the machine's own apt sources; the system's configuration is
# left alone. Every result is cached: a second run only checks.
set -euo pipefail
cd "$(dirname "$0")/.."
deps=${KAV_WINDOWS_DEPS:-$PWD/build-windows-deps}
mkdir -p "$deps"
deps=$(cd "$deps" && pwd)
host=x86_64-w64-mingw32
jobs=$(nproc)

# --- A private apt configuration with deb-src entries --------------------------
apt_dir=$deps/apt
apt_conf=$apt_dir/apt.conf
make_apt_config() {
  mkdir -p "$apt_dir"/{lists/partial,cache/archives/partial,parts,prefs}
  . /etc/os-release
  local codename=${VERSION_CODENAME:-bookworm}
  local out=$apt_dir/sources.list
  : >"$out"
  # One-line entries: "deb [opts] URI SUITE COMPONENTS..."
  for f in /etc/apt/sources.list /etc/apt/sources.list.d/*.list; do
    [ -f "$f" ] || continue
    grep -E '^[[:space:]]*deb[[:space:]]' "$f" | while read -r _ rest; do
      set -- $rest
      local opts=""
      if [[ $1 == \[* ]]; then
        while [[ $1 != *\] ]]; do opts+="$1 "; shift; done; opts+="$1 "; shift
      fi
      local uri=$1 suite=$2; shift 2
      case $suite in "$codename"|"$codename"-*) echo "deb-src $opts$uri $suite $*" >>"$out" ;; esac
    done
  done
  # deb822 entries (*.sources): a paragraph per entry.
  for f in /etc/apt/sources.list.d/*.sources; do
    [ -f "$f" ] || continue
    awk -v codename="$codename" '
      function flush() {
        if (types ~ /(^| )deb( |$)/ && enabled != "no" && uris != "") {
          n = split(suites, s, " ")
          for (i = 1; i <= n; i++)
            if (s[i] == codename || index(s[i], codename "-") == 1)
              printf "deb-src %s%s %s %s\n", (signed != "" ? "[signed-by=" signed "] " : ""), uris, s[i], comps
        }
        types = uris = suites = comps = signed = enabled = ""
      }
      /^[[:space:]]*#/ { next }
      /^[[:space:]]*$/ { flush(); next }
      { key = $1; sub(/:$/, "", key); $1 = ""; sub(/^ /, ""); val = $0 }
      key == "Types" { types = val } key == "URIs" { uris = val } key == "Suites" { suites = val }
      key == "Components" { comps = val } key == "Signed-By" { signed = val } key == "Enabled" { enabled = val }
      END { flush() }' "$f" >>"$out"
  done
  [ -s "$out" ] || { echo "windows-deps: no Debian apt sources found to derive deb-src entries from" >&2; exit 1; }
  cat >"$apt_conf" <<CONF
Dir::Etc::sourcelist "$apt_dir/sources.list";
Dir::Etc::sourceparts "$apt_dir/parts";
Dir::Etc::preferencesparts "$apt_dir/prefs";
Dir::State::Lists "$apt_dir/lists";
Dir::Cache "$apt_dir/cache";
Dir::Cache::pkgcache "";
Dir::Cache::srcpkgcache "";
APT::Sandbox::User "root";
CONF
}

apt_source() {  # apt_source PACKAGE DEST: unpacked Debian source of PACKAGE in DEST
  local pkg=$1 dest=$2
  if [ ! -f "$apt_dir/updated" ]; then
    make_apt_config
    APT_CONFIG=$apt_conf apt-get -q update >"$apt_dir/update.log" 2>&1 \
      || { cat "$apt_dir/update.log"; exit 1; }
    touch "$apt_dir/updated"
  fi
  rm -rf "$dest"; mkdir -p "$dest"
  (cd "$dest" && APT_CONFIG=$apt_conf apt-get -q source "$pkg" >source.log 2>&1) \
    || { cat "$dest/source.log"; exit 1; }
}

# --- SQLite amalgamation -------------------------------------------------------
if [ ! -f "$deps/sqlite/sqlite3.c" ]; then
  echo "windows-deps: SQLite amalgamation from Debian's source"
  apt_source sqlite3 "$deps/src-sqlite"
  src=$(find "$deps/src-sqlite" -mindepth 1 -maxdepth 1 -type d -name 'sqlite3-*' | head -1)
  mkdir -p "$deps/src-sqlite/build"
  (cd "$deps/src-sqlite/build" && "$src/configure" >configure.log 2>&1 && make -j"$jobs" sqlite3.c >make.log 2>&1) \
    || { tail -n 30 "$deps/src-sqlite/build/"*.log; exit 1; }
  mkdir -p "$deps/sqlite"
  cp "$deps/src-sqlite/build/sqlite3.c" "$deps/src-sqlite/build/sqlite3.h" "$deps/sqlite/"
  rm -rf "$deps/src-sqlite"
fi
echo "windows-deps: SQLite $(grep -m1 '#define SQLITE_VERSION ' "$deps/sqlite/sqlite3.h" | awk '{print $3}')"

# --- GNU Wget for Windows (no TLS: the web application is on this machine) -----
if [ "${KAV_WINDOWS_WGET:-1}" != 0 ] && [ ! -f "$deps/wget/wget.exe" ]; then
  echo "windows-deps: GNU Wget for Windows from Debian's source (a few minutes)"
  apt_source wget "$deps/src-wget"
  src=$(find "$deps/src-wget" -mindepth 1 -maxdepth 1 -type d -name 'wget-*' | head -1)
  mkdir -p "$deps/src-wget/build"
  # The host's pkg-config files describe the host's libraries, not Windows
  # ones: the cross build must not see them (it would take the host's nettle).
  mkdir -p "$deps/src-wget/no-pkgconfig"
  (cd "$deps/src-wget/build" &&
    PKG_CONFIG_LIBDIR="$deps/src-wget/no-pkgconfig" PKG_CONFIG_PATH="" LIBS="-lbcrypt" "$src/configure" --host=$host --without-ssl --without-libpsl --without-zlib --without-metalink \
      --without-cares --without-libuuid --disable-iri --disable-pcre --disable-pcre2 --disable-nls \
      --disable-ntlm --disable-debug --disable-threads CFLAGS="-O2" LDFLAGS="-static" >configure.log 2>&1 &&
    make -j"$jobs" -C lib >make.log 2>&1 && make -j"$jobs" -C src wget.exe >>make.log 2>&1) \
    || { tail -n 40 "$deps/src-wget/build/configure.log" "$deps/src-wget/build/make.log"; exit 1; }
  mkdir -p "$deps/wget"
  cp "$deps/src-wget/build/src/wget.exe" "$deps/wget/wget.exe"
  $host-strip "$deps/wget/wget.exe"
  cp "$src/COPYING" "$deps/wget/COPYING"
  rm -rf "$deps/src-wget"
fi
[ "${KAV_WINDOWS_WGET:-1}" = 0 ] || echo "windows-deps: GNU Wget for Windows in $deps/wget"
