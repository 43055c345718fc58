#!/bin/sh
# bench/whole-process.sh BUILD_DIR: the strandel tool as whole processes, start to exit.
#
# 1. `strandel volumes` on generated images of 1k, 10k and 30k media objects, in text and in
#    JSON: the median wall time of RUNS runs (default 5), the time per media object, and the
#    largest resident set of any run against the size of the image's machine.plist (XML, as the
#    importer writes it; FORM=binary for a binary one).
#    Goals: the 30k run within 3.3 times the 10k run (linear growth); at most 60 us per media
#    object at 30k; a peak resident set at most 5 times the image file's size.
# 2. Startup: `strandel bytes 1` on the live host against a hello world linked to the same
#    libraries (bench/programs/Hello.cpp), STARTS runs each (default 200), interleaved in five
#    rounds so that the machine's load falls on both alike. A start takes a millisecond or two,
#    which other processes' load only ever lengthens: the figure compared is each round's least
#    run (the median of the five rounds), with the medians shown beside it.
#    Goal: at most 1.3 times the hello world.
#
# BUILD_DIR is a Release build with the targets strandel_tool, bench_make_full_image, bench_hello and
# bench_timed built. Figures go to stdout as a table; each goal line ends in "met" or "MISSED".
# The exit status is 0 whenever the figures could be taken: the goals are reported, not gated.
set -eu

build=${1:?usage: bench/whole-process.sh BUILD_DIR}
runs=${RUNS:-5}
starts=${STARTS:-200}
sizes=${SIZES:-"1000 10000 30000"}
form=${FORM:-xml}
tool="$build/tools/strandel/strandel"
maker="$build/bench/programs/bench_make_full_image"
hello="$build/bench/programs/bench_hello"
timed="$build/bench/programs/bench_timed"
for program in "$tool" "$maker" "$hello" "$timed"; do
  [ -x "$program" ] || { echo "missing $program: build strandel_tool bench_make_full_image bench_hello bench_timed" >&2; exit 2; }
done

work=$(mktemp -d /tmp/strandel-whole-process-XXXXXX)
trap 'rm -rf "$work"' EXIT INT TERM

. "$(dirname "$0")/figures.sh"

echo "== strandel volumes, whole process ($form images, median of $runs runs)"
printf '%-7s %-6s %10s %12s %10s %12s %9s\n' media format image_KB median_ms us_per_media peak_KB peak/image
for media in $sizes; do
  image="$work/image-$media"
  if [ "$form" = binary ]; then "$maker" "$media" "$image" binary; else "$maker" "$media" "$image"; fi
  image_kb=$(( $(stat -c %s "$image/machine.plist") / 1024 ))
  for format in text json; do
    set -- $("$timed" "$runs" "$tool" --machine "$image" --format "$format" volumes)
    median_us=$1 peak_kb=$3
    eval "us_${format}_${media}=$median_us peak_${format}_${media}=$peak_kb image_${media}=$image_kb"
    awk -v m="$media" -v f="$format" -v i="$image_kb" -v t="$median_us" -v p="$peak_kb" 'BEGIN {
      printf "%-7d %-6s %10d %12.1f %10.1f %12d %9.1f\n", m, f, i, t / 1000, t / m, p, p / i }'
  done
  rm -rf "$image"
done

case " $sizes " in
  *" 10000 "*" 30000 "*)
    for format in text json; do
      eval "ten=\$us_${format}_10000 thirty=\$us_${format}_30000 peak=\$peak_${format}_30000 image=\$image_30000"
      growth=$(awk -v a="$thirty" -v b="$ten" 'BEGIN { printf "%.2f", a / b }')
      per=$(awk -v a="$thirty" 'BEGIN { printf "%.1f", a / 30000 }')
      memory=$(awk -v p="$peak" -v i="$image" 'BEGIN { printf "%.1f", p / i }')
      echo "$format: 30k/10k time ${growth}x (goal <= 3.3: $(verdict "$growth" 3.3));" \
        "${per} us per media object at 30k (goal <= 60: $(verdict "$per" 60));" \
        "peak ${memory}x the image (goal <= 5: $(verdict "$memory" 5))"
    done
    ;;
esac

echo "== startup: strandel bytes 1 on the live host against a hello world ($starts runs each, 5 rounds)"
# A settings folder of its own, so that the host's cached answers neither help nor change.
XDG_CONFIG_HOME="$work/config"
export XDG_CONFIG_HOME
unset STRANDEL_MACHINE STRANDEL_SETTINGS 2>/dev/null || true
per_round=$(( (starts + 4) / 5 ))
hello_all="" bytes_all="" hello_least="" bytes_least=""
for round in 1 2 3 4 5; do
  set -- $("$timed" "$per_round" "$hello")
  hello_all="$hello_all $1" hello_least="$hello_least $2"
  set -- $("$timed" "$per_round" "$tool" bytes 1)
  bytes_all="$bytes_all $1" bytes_least="$bytes_least $2"
done
# shellcheck disable=SC2086
hello_us=$(median $hello_all) bytes_us=$(median $bytes_all)
# shellcheck disable=SC2086
hello_min=$(median $hello_least) bytes_min=$(median $bytes_least)
ratio=$(ratio "$bytes_min" "$hello_min")
echo "hello world: least $hello_min us, median $hello_us us; strandel bytes 1: least $bytes_min us, median $bytes_us us"
echo "startup ${ratio}x the hello world, least runs (goal <= 1.3: $(verdict "$ratio" 1.3))"
