#!/usr/bin/env bash
# Sets up and runs the monitor on embedded defaults: a root folder laid out
# under $KAVCOMANDA_ROOT (default ~/KavComanda) with sample ERP files, the
# stand-in web application on a loopback port with sample work queued, and
# tickets printed to the spool folder.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/setup.sh
cmake --preset default >/dev/null
cmake --build --preset default

root=${KAVCOMANDA_ROOT:-$HOME/KavComanda}
scripts/layout-root.sh "$root"

arquivos="$root/OrbelaTeknovarium/KAV/Arquivos"
for file in PRODUTO VENDEDO PARAMET; do
  sample="tools/erpfile/samples/$(echo "$file" | tr 'A-Z' 'a-z').txt"
  [ -e "$arquivos/$file.ORB" ] || build/bin/kav-erpfile create "$arquivos/$file.ORB" --from "$sample"
done

# Sample work: one order for two printers, a cancellation and a bill, queued
# anew at every start.
queue="$root/webstub-queue"
mkdir -p "$queue"
cp -r tools/webstub/samples/* "$queue/"

out="$root/webstub.out"
build/bin/kav-webstub --port 0 --docroot "$root/xampp/htdocs/Comandas" --queue "$queue" >"$out" 2>&1 &
webstub=$!
trap 'kill "$webstub" 2>/dev/null || true' EXIT
for _ in $(seq 50); do
  port=$(head -n 1 "$out" 2>/dev/null | tr -dc '0-9')
  [ -n "$port" ] && break
  sleep 0.1
done
[ -n "${port:-}" ] || { echo "quickstart: the stand-in web application did not start:"; cat "$out"; exit 1; }

echo "quickstart: root $root, web application on 127.0.0.1:$port, log $root/OrbelaTeknovarium/LOGCMD_$(date +%Y%m%d).txt"
export KAVCOMANDA_ROOT="$root" KAVCOMANDA_WEB_HOST="127.0.0.1:$port" no_proxy="127.0.0.1,localhost"
build/bin/kavcomanda
