#!/bin/sh
# Times `strandel volumes` as a whole process, in text and in JSON, on generated machine images
# of 10,000 and 30,000 media objects (1,000 and 3,000 APFS containers of seven volumes), and
# fails when the larger run takes more than 3.3 times the smaller: the tool's own work must grow
# with the count of volumes and containers, not with its square.
#
# Usage: bench/volumes-scaling.sh BUILD_DIR      (RUNS=5 for more runs than the default 3)
#
# Each figure is the median of RUNS runs, as the machine may be shared and noisy. The images
# are written once into a scratch folder and removed at the end. A third line times `fda`, which
# only loads the image and answers from a file, so that the image's load can be told apart
# from the volume list and its output; it is shown, not judged.
set -eu

if [ "$#" -ne 1 ]; then
  echo "usage: bench/volumes-scaling.sh BUILD_DIR" >&2
  exit 2
fi
build=$1
runs=${RUNS:-3}
limit=3.3
cmake --build "$build" --target strandel_tool bench_make_image >/dev/null
tool=$build/tools/strandel/strandel
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT

for media in 10000 30000; do
  "$build/bench/bench_make_image" "$scratch/$media" "$media"
done

# The median wall time in seconds of RUNS runs of the tool with the arguments given.
median_seconds() {
  i=0
  : >"$scratch/times"
  while [ "$i" -lt "$runs" ]; do
    start=$(date +%s%N)
    "$tool" "$@" >/dev/null
    end=$(date +%s%N)
    echo "$(( (end - start) / 1000000 ))" >>"$scratch/times"
    i=$((i + 1))
  done
  sort -n "$scratch/times" | awk '{ t[NR] = $1 } END { printf "%.3f\n", t[int((NR + 1) / 2)] / 1000 }'
}

failed=0
for format in text json load; do
  command="--format $format volumes"
  [ "$format" = load ] && command=fda
  # shellcheck disable=SC2086
  small=$(median_seconds --machine "$scratch/10000" $command)
  # shellcheck disable=SC2086
  large=$(median_seconds --machine "$scratch/30000" $command)
  verdict=$(awk -v s="$small" -v l="$large" -v limit="$limit" \
    'BEGIN { r = l / s; printf "%.2f %s", r, (r <= limit ? "ok" : "over") }')
  printf '%-5s 10k media %6.3f s   30k media %6.3f s   ratio %s (at most %s)\n' \
    "$format" "$small" "$large" "$verdict" "$limit"
  [ "$format" != load ] && case $verdict in *over) failed=1 ;; esac
done
exit "$failed"
