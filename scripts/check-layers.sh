#!/usr/bin/env bash
# Checks the include graph of src/ against the layers of the source: a file
# may include only headers of its own folder or of a lower layer. Lists every
# include that goes sideways or upwards and exits non-zero when there is one.
# Since every edge between folders goes strictly downwards, the folders can
# form no cycle.
#
# A folder is the first level below src/, or the second for the platform
# services and the two runtimes (src/platform/print, src/ui/qt, ...).
set -euo pipefail
cd "$(dirname "$0")/.."

# Layer of each folder, lowest first.
layers='
record 0
platform 1
platform/command 2
platform/print 2
platform/keyed 2
form 2
settings 2
erpfiles 2
log 3
board 3
ui/headless 3
ui/qt 3
ui/win32 3
printing 4
orders 5
export 5
monitor 5
app 6
'

grep -rnE '^[[:space:]]*#[[:space:]]*include[[:space:]]+"[a-z_]+/' src --include='*.h' --include='*.cpp' |
  awk -v layers="$layers" '
    function folder(path,   parts, n) {
      n = split(path, parts, "/")
      if ((parts[1] == "platform" || parts[1] == "ui") && n > 2) return parts[1] "/" parts[2]
      return parts[1]
    }
    BEGIN {
      n = split(layers, rows, "\n")
      for (i = 1; i <= n; i++) if (split(rows[i], f, " ") == 2) layer[f[1]] = f[2]
    }
    {
      split($0, p, ":")
      file = p[1]; line = p[2]
      match($0, /"[^"]+"/)
      target = substr($0, RSTART + 1, RLENGTH - 2)
      from = folder(substr(file, 5)); to = folder(target)
      if (from == to) next
      edges++
      if (!(from in layer)) { print file ": folder " from " has no layer"; bad++ }
      else if (!(to in layer)) { print file ":" line ": includes " target " of folder " to ", which has no layer"; bad++ }
      else if (layer[to] >= layer[from]) {
        print file ":" line ": " from " (layer " layer[from] ") includes " target " of " to " (layer " layer[to] ")"; bad++
      }
    }
    END {
      if (bad) exit 1
      print "layers: " edges " includes between folders, all downwards"
    }'
