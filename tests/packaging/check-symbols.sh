#!/bin/sh
# The shared library exports exactly the public API: its dynamic symbols, demangled, must equal
# the checked-in list. Adding a symbol is a deliberate change to exported-symbols.txt. The public
# API is the one version node STRANDEL_1, shown without its suffix; a symbol of any other node
# keeps its suffix and so fails the comparison.
set -eu
library=$1
expected=$2
actual=$(mktemp)
trap 'rm -f "$actual"' EXIT
nm -D --defined-only "$library" | c++filt | awk '$2 != "A" { $1=""; $2=""; sub(/^  /,""); sub(/@@STRANDEL_1$/,""); print }' |
  sort -u > "$actual"
if ! diff -u "$expected" "$actual"; then
  echo "exported symbols differ from $expected (lines with + are exported but not listed)" >&2
  exit 1
fi
echo "exported symbols match ($(wc -l < "$actual") symbols)"
