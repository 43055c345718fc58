#!/bin/sh
# The build keeps the folders' order: a file compiled as capacity reaches apfs, the same file
# compiled as system (below apfs) does not find apfs's header, and a library folder that includes
# the public umbrella fails on its #error. Each probe is a target left out of the default build.
set -u
build=$1
log=$(mktemp)
trap 'rm -f "$log"' EXIT
status=0
probe() {  # target, whether it should build, text its failure shows
  cmake --build "$build" --target "$1" > "$log" 2>&1
  built=$?
  if [ "$2" = builds ] && [ $built -ne 0 ]; then
    echo "$1: should build and did not:" >&2; cat "$log" >&2; status=1
  elif [ "$2" = fails ] && { [ $built -eq 0 ] || ! grep -q "$3" "$log"; }; then
    echo "$1: should fail with \"$3\":" >&2; cat "$log" >&2; status=1
  fi
}
probe strandel_order_capacity_reaches_apfs builds
probe strandel_order_system_reaches_apfs fails 'apfs/ApfsContainer.hpp'
probe strandel_order_capacity_includes_umbrella fails 'includes the public umbrella'
[ $status -eq 0 ] && echo "folder order holds (3 probes)"
exit $status
