#!/bin/sh
# bench/peers.sh BUILD_DIR: the strandel tool against the programs that answer the same question,
# as whole processes, on the same input, in the same run, interleaved so that the machine's load
# falls on both alike.
#
# 1. `strandel --format json volumes` on generated images (bench_make_full_image) of 10k, 30k and
#    100k media, binary and XML, against Python's plistlib loading the same machine.plist and
#    doing nothing with it. RUNS rounds (default 3), each running both once on every size in
#    turn, so that the growth from 10k to 100k comes from runs taken side by side.
#    Goals: CPU at most 0.5x Python's (binary) and 0.3x (XML); peak RSS at most 1x Python's;
#    CPU and peak RSS from 10k to 100k at most 11x (linear).
# 2. Small commands on the live host: `size total /` against `df -B1 --output=size /`,
#    `bytes 1536000` against `numfmt --to=si 1536000`, `mount from /` against `findmnt -n -o
#    SOURCE /`. ROUNDS rounds (default 5) of STARTS runs each (default 40), interleaved.
#    Goal: CPU at most 1.3x the peer's. With valgrind installed (and INSTR unset or 1), each
#    command's instructions from exec to exit (callgrind, dynamic loader included) are counted
#    once as well; perf's counters are used instead where the machine has them.
#
# Figures are medians of the rounds: CPU is user + system time from wait4 (bench_timed), which
# the load moves far less than wall time; RSS is the largest of any run. The machine's load is
# printed before and after.
#
# BUILD_DIR is a build folder (Release for figures worth keeping) with strandel_tool,
# bench_make_full_image and bench_timed built (configure with -DSTRANDEL_BENCH=ON). SIZES,
# FORMS ("binary xml"; "" leaves the volume list out), PYTHON (default /usr/bin/python3: a shim
# in front of it would be counted) change what it takes. Each goal line ends in "met" or
# "MISSED"; the exit status is 0 whenever the figures could be taken: the goals are reported,
# not gated.
set -eu

build=${1:?usage: bench/peers.sh BUILD_DIR}
runs=${RUNS:-3}
rounds=${ROUNDS:-5}
starts=${STARTS:-40}
sizes=${SIZES-"10000 30000 100000"}
forms=${FORMS-"binary xml"}
python=${PYTHON:-/usr/bin/python3}
tool="$build/tools/strandel/strandel"
maker="$build/bench/programs/bench_make_full_image"
timed="$build/bench/programs/bench_timed"
for program in "$tool" "$maker" "$timed" "$python"; do
  [ -x "$program" ] || { echo "missing $program: build strandel_tool bench_make_full_image bench_timed" >&2; exit 2; }
done

work=$(mktemp -d /tmp/strandel-peers-XXXXXX)
trap 'rm -rf "$work"' EXIT INT TERM
# A settings folder of its own, so that the host's cached answers neither help nor change.
XDG_CONFIG_HOME="$work/config"
export XDG_CONFIG_HOME
unset STRANDEL_MACHINE STRANDEL_SETTINGS 2>/dev/null || true

. "$(dirname "$0")/figures.sh"

# measure NAME COUNT COMMAND...: one round of COUNT runs; appends its median CPU (us) and peak
# RSS (KB) to the lists named cpu_NAME and rss_NAME.
measure() {
  list=$1 count=$2
  shift 2
  # shellcheck disable=SC2046
  set -- $("$timed" "$count" "$@")
  eval "cpu_$list=\"\${cpu_$list:-} $4\" rss_$list=\"\${rss_$list:-} $3\""
}
cpu_of() { eval "median \$cpu_$1"; }
rss_of() { eval "largest \$rss_$1"; }

echo "== load before: $(uptime)"
echo "== tool: $tool ($(stat -c %s "$tool") bytes); python: $("$python" --version 2>&1)"

echo "== strandel --format json volumes against python3 plistlib.load, median of $runs rounds"
printf '%-7s %-6s %9s %11s %11s %7s %9s %9s %7s\n' \
  media form image_KB strandel_ms python_ms cpu_x strandel_MB python_MB rss_x
load='import plistlib, sys
with open(sys.argv[1], "rb") as f: plistlib.load(f)'
for form in $forms; do
  # Every size's image first, then rounds that run each size in turn: a change in the machine's
  # load falls on all sizes alike, and the growth from the smallest to the largest is read from
  # runs taken side by side, not minutes apart.
  for media in $sizes; do
    image="$work/image-$media"
    rm -rf "$image"
    if [ "$form" = binary ]; then "$maker" "$media" "$image" binary; else "$maker" "$media" "$image"; fi
  done
  round=0
  while [ "$round" -lt "$runs" ]; do
    for media in $sizes; do
      image="$work/image-$media" key="${form}_$media"
      measure "s_$key" 1 "$tool" --machine "$image" --format json volumes
      measure "p_$key" 1 "$python" -c "$load" "$image/machine.plist"
    done
    round=$((round + 1))
  done
  for media in $sizes; do
    image="$work/image-$media" key="${form}_$media"
    s_cpu=$(cpu_of "s_$key") p_cpu=$(cpu_of "p_$key") s_rss=$(rss_of "s_$key") p_rss=$(rss_of "p_$key")
    eval "s_cpu_$key=$s_cpu s_rss_$key=$s_rss p_cpu_$key=$p_cpu"
    awk -v m="$media" -v f="$form" -v i="$(( $(stat -c %s "$image/machine.plist") / 1024 ))" \
      -v sc="$s_cpu" -v pc="$p_cpu" -v sr="$s_rss" -v pr="$p_rss" 'BEGIN {
      printf "%-7d %-6s %9d %11.1f %11.1f %7.2f %9.1f %9.1f %7.2f\n",
        m, f, i, sc / 1000, pc / 1000, sc / pc, sr / 1024, pr / 1024, sr / pr }'
    cpu_goal=0.5
    [ "$form" = xml ] && cpu_goal=0.3
    cpu_x=$(ratio "$s_cpu" "$p_cpu") rss_x=$(ratio "$s_rss" "$p_rss")
    echo "        $form ${media}: CPU ${cpu_x}x Python (goal <= $cpu_goal: $(verdict "$cpu_x" "$cpu_goal")); peak ${rss_x}x Python (goal <= 1: $(verdict "$rss_x" 1))"
  done
  # shellcheck disable=SC2086
  set -- $sizes
  first=$1 last=''
  eval "last=\${$#}"
  cpu_growth='' rss_growth='' python_growth=''
  if [ "$first" != "$last" ]; then
    eval "cpu_growth=\$(ratio \$s_cpu_${form}_$last \$s_cpu_${form}_$first) rss_growth=\$(ratio \$s_rss_${form}_$last \$s_rss_${form}_$first)"
    eval "python_growth=\$(ratio \$p_cpu_${form}_$last \$p_cpu_${form}_$first)"
    limit=$(awk -v a="$last" -v b="$first" 'BEGIN { printf "%.1f", a / b * 1.1 }')
    # Python's growth on the same images tells how much of it the machine's caches add.
    echo "        $form $first -> $last media: CPU ${cpu_growth}x, peak ${rss_growth}x (goal <= $limit: $(verdict "$cpu_growth" "$limit"), $(verdict "$rss_growth" "$limit")); Python's CPU ${python_growth}x"
  fi
  rm -rf "$work"/image-*
done

# Instructions of one run, exec to exit: perf's counter where the machine has one, else callgrind.
instructions() {
  [ "${INSTR:-1}" = 1 ] || { echo -; return; }
  if perf stat -x, -e instructions:u true 2>&1 | grep -q '^[0-9]'; then
    perf stat -x, -e instructions:u "$@" 2>&1 >/dev/null | awk -F, '/instructions/ { print $1; exit }'
  elif command -v valgrind >/dev/null; then
    valgrind --tool=callgrind --callgrind-out-file=/dev/null "$@" 2>&1 >/dev/null |
      awk '/Collected :/ { print $NF; exit }'
  else
    echo -
  fi
}

echo "== small commands against their peers on the live host, $rounds rounds of $starts runs"
printf '%-30s %-34s %9s %9s %6s %9s %9s %6s %11s %11s %6s\n' strandel peer strandel_us peer_us cpu_x \
  strandel_KB peer_KB rss_x strandel_ins peer_ins ins_x
small() {
  question=$1 ours=$2 theirs=$3
  round=0
  while [ "$round" -lt "$rounds" ]; do
    # shellcheck disable=SC2086
    measure "s_$question" "$starts" "$tool" $ours
    # shellcheck disable=SC2086
    measure "p_$question" "$starts" $theirs
    round=$((round + 1))
  done
  s_cpu=$(cpu_of "s_$question") p_cpu=$(cpu_of "p_$question") s_rss=$(rss_of "s_$question") p_rss=$(rss_of "p_$question")
  # shellcheck disable=SC2086
  s_ins=$(instructions "$tool" $ours) p_ins=$(instructions $theirs)
  awk -v o="$ours" -v t="$theirs" -v sc="$s_cpu" -v pc="$p_cpu" -v sr="$s_rss" -v pr="$p_rss" \
    -v si="$s_ins" -v pi="$p_ins" 'BEGIN {
    ix = (si + 0 > 0 && pi + 0 > 0) ? sprintf("%.2f", si / pi) : "-"
    printf "%-30s %-34s %9.0f %9.0f %6.2f %9d %9d %6.2f %11s %11s %6s\n",
      o, t, sc, pc, sc / pc, sr, pr, sr / pr, si, pi, ix }'
  cpu_x=$(ratio "$s_cpu" "$p_cpu")
  echo "        $question: CPU ${cpu_x}x (goal <= 1.3: $(verdict "$cpu_x" 1.3))"
}
small size "size total /" "$(command -v df) -B1 --output=size /"
small bytes "bytes 1536000" "$(command -v numfmt) --to=si 1536000"
small mount "mount from /" "$(command -v findmnt) -n -o SOURCE /"

echo "== load after: $(uptime)"
