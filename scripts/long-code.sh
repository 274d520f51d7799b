#!/bin/sh
# Lists the functions over 80 lines and the .cpp files over 500 lines in
# src/ and tools/, the sizes past which code is split unless there is a
# reason not to. A function is a definition opening at column 0 (or at 2,
# inside a class) whose body closes with "}" at the same column.
cd "$(dirname "$0")/.." || exit 1
find src tools \( -name '*.cpp' -o -name '*.h' \) | sort | while read -r f; do
  for ind in "" "  "; do
    awk -v f="$f" -v ind="$ind" '
      BEGIN { head = "^" ind "[A-Za-z~].*\\("; close_re = "^" ind "}" }
      start == 0 && $0 ~ head && !/\} *;? *$/ &&
          $0 !~ ("^" ind "(namespace|struct|class|enum|union|extern|using|typedef|return|if|for|while|switch|case)[ (]") {
        sig = $0; start = NR; if ($0 ~ /; *$/) start = 0; next }
      start != 0 && $0 ~ (close_re "[ ;]*$") {
        n = NR - start + 1; if (n > 80) printf "%5d  %s:%d  %s\n", n, f, start, sig; start = 0; next }
      start != 0 && $0 ~ ("^" ind "[A-Za-z].*; *$") { start = 0 }
    ' "$f"
  done
done
echo "--- .cpp files over 500 lines"
find src tools -name '*.cpp' -exec wc -l {} + | awk '$2 != "total" && $1 > 500'
