#!/usr/bin/env bash
# Runs the monitor (console mode) against endless_page.py for SECONDS
# (default 600) on a fresh root, and reports every 30 s and at the end: the
# monitor's memory (RSS and its peak), what Temp keeps (the kept answers:
# count and bytes), the log's bytes, and the bills and cancellations handed
# out against the tickets kept in the spool.
# Usage: tools/bench/endless/run.sh KAVCOMANDA [SECONDS] [PRINTER] [damaged]
# ("damaged": the item page answers one damaged order at every request
# instead of an endless answer).
set -euo pipefail
program=${1:?usage: run.sh KAVCOMANDA [SECONDS] [PRINTER]}
seconds=${2:-600}
printer=${3:-KAVTEST}
mode=${4:-endless}
here=$(cd "$(dirname "$0")" && pwd)
root=$(mktemp -d)
"$here/../../../scripts/layout-root.sh" "$root"
port=$(( 20000 + RANDOM % 20000 ))
python3 "$here/endless_page.py" "$port" "$printer" "$mode" >"$root/handed.txt" &
page=$!
sleep 1
KAVCOMANDA_ROOT=$root KAVCOMANDA_UI=console KAVCOMANDA_WEB_HOST=127.0.0.1:$port \
  "$program" </dev/null >"$root/console.txt" 2>&1 &
monitor=$!
trap 'kill "$monitor" "$page" 2>/dev/null || true' EXIT
temp=$root/OrbelaTeknovarium/Temp
report() {
  local rss hwm kept kept_bytes temp_bytes log_bytes tickets
  rss=$(awk '/VmRSS/ {print $2}' "/proc/$monitor/status")
  hwm=$(awk '/VmHWM/ {print $2}' "/proc/$monitor/status")
  kept=$(find "$temp" -name 'KAVFALHA-*' | wc -l)
  kept_bytes=$(find "$temp" -name 'KAVFALHA-*' -printf '%s\n' | awk '{s+=$1} END {print s+0}')
  temp_bytes=$(du -sb "$temp" | cut -f1)
  log_bytes=$(cat "$root"/OrbelaTeknovarium/LOGCMD_*.txt 2>/dev/null | wc -c)
  tickets=$(find "$root/OrbelaTeknovarium/Spool" -name '*.txt' | wc -l)
  echo "t=$1s rss=${rss}kB peak=${hwm}kB kept=$kept kept_bytes=$kept_bytes temp_bytes=$temp_bytes" \
       "log_bytes=$log_bytes handed=$(wc -l <"$root/handed.txt") tickets=$tickets"
}
for ((t = 30; t <= seconds; t += 30)); do
  sleep 30
  report "$t"
done
kill -TERM "$monitor"
wait "$monitor" || true
echo "root: $root"
