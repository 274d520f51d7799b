# Sourced by scripts that run the monitor against the stand-ins (the quick
# start, the rendered tickets): the sample ERP files and the stand-in web
# application. Not run by itself.

# The sample ERP files in ROOT, those that are missing. $1 the folder of the
# built programs, $2 the root.
sample_erp_files() {
  local arquivos="$2/OrbelaTeknovarium/KAV/Arquivos" file
  for file in PRODUTO VENDEDO PARAMET; do
    [ -e "$arquivos/$file.ORB" ] ||
      "$1/kav-erpfile" create "$arquivos/$file.ORB" --from "tools/shipped/erpfile/samples/${file,,}.txt" >/dev/null
  done
}

# Starts the stand-in web application for ROOT on a free loopback port,
# serving the work queued in QUEUE: $1 the folder of the built programs, $2
# the root, $3 the queue. Sets `webstub` (its process) and `port`; returns 1,
# with what it said, when it did not start.
start_webstub() {
  local out="$2/webstub.out"
  "$1/kav-webstub" --port 0 --docroot "$2/xampp/htdocs/Comandas" --queue "$3" >"$out" 2>&1 &
  webstub=$!
  port=""
  for _ in $(seq 50); do
    port=$(head -n 1 "$out" 2>/dev/null | tr -dc '0-9')
    [ -n "$port" ] && return 0
    sleep 0.1
  done
  echo "the stand-in web application did not start:" >&2
  cat "$out" >&2
  return 1
}
