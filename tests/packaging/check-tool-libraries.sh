#!/bin/sh
# check-tool-libraries.sh TOOL LIBRARY...: the tool loads none of the LIBRARYs at start. A small
# command's cost is mostly the loader's: the tool links the library's objects (no
# libstrandel.so, hence no private ABI) and the C++ runtime statically, and loads libmount only
# when it reads a mount table.
set -eu
tool=$1
shift
needed=$(readelf -d "$tool" | sed -n 's/.*(NEEDED).*\[\(.*\)\]/\1/p')
status=0
for library in "$@"; do
  if printf '%s\n' "$needed" | grep -q "^$library\.so"; then
    echo "the tool loads $library at start" >&2
    status=1
  fi
done
[ "$status" -eq 0 ] && echo "the tool loads at start: $(echo "$needed" | tr "\n" " ")"
exit "$status"
