#!/bin/sh
# Builds the host in tests/packaging/host against an installed Strandel as host developers do:
# through pkg-config and through find_package, with g++ and clang++, as C++17, C++20 and C++23,
# with -Wall -Wextra -Wpedantic -Werror, the host's own flags before the library's and after
# them; runs each; and checks that a C++14 host is told in one error line to use C++17 or later.
#
# Usage: tests/packaging/check-hosts.sh WORK_DIR [STAGE [SAMPLE]]
#   WORK_DIR  an empty folder for the builds
#   STAGE     the folder an install was staged into (DESTDIR); "" for the system's own copy
#   SAMPLE    a machine image that each host lists
set -eu
here=$(cd "$(dirname "$0")" && pwd)
work=$1
stage=${2:-}
sample=${3:-}
mkdir -p "$work"

prefix_path=
if [ -n "$stage" ]; then
  pcdir=$(find "$stage" -name strandel.pc -printf '%h\n' | head -n 1)
  # The .pc file names /usr: the stage stands in for the root, and /usr/include is a system
  # folder that pkg-config would otherwise leave out.
  export PKG_CONFIG_PATH="$pcdir" PKG_CONFIG_SYSROOT_DIR="$stage"
  export PKG_CONFIG_ALLOW_SYSTEM_CFLAGS=1 PKG_CONFIG_ALLOW_SYSTEM_LIBS=1
  export LD_LIBRARY_PATH="$pcdir/.."
  prefix_path="$stage/usr"
fi
cflags=$(pkg-config --cflags strandel)
libs=$(pkg-config --libs strandel)
case "$cflags $libs" in *-std=*)
  echo "the pkg-config flags name a C++ standard: $cflags $libs" >&2; exit 1;;
esac

# clang++ before 17 knows C++23 only as c++2b.
std_flag() {
  if [ "$2" = 23 ] && ! echo | "$1" -std=c++23 -fsyntax-only -x c++ - 2>/dev/null; then
    echo -std=c++2b
  else
    echo "-std=c++$2"
  fi
}

run() {
  "$@" ${sample:+"$sample"} || { echo "host failed: $*" >&2; exit 1; }
}

n=0
for compiler in g++ clang++; do
  for std in 17 20 23; do
    host="$(std_flag $compiler $std) -DSTRANDEL_HOST_STD=$std -Wall -Wextra -Wpedantic -Werror"
    out="$work/pc-$compiler-$std"
    n=$((n + 1))
    # shellcheck disable=SC2086
    if [ $((n % 2)) -eq 1 ]; then
      echo "== pkg-config, $compiler, C++$std, the host's flags first"
      $compiler $host -o "$out" "$here/host/main.cpp" $cflags $libs
    else
      echo "== pkg-config, $compiler, C++$std, the library's flags first"
      $compiler $cflags "$here/host/main.cpp" $libs -o "$out" $host
    fi
    run "$out"
  done

  echo "== $compiler, C++14: one error line"
  # shellcheck disable=SC2086
  if echo '#include <strandel/Strandel.hpp>' | $compiler -std=c++14 -fsyntax-only $cflags -x c++ - 2>"$work/cxx14.err"; then
    echo "a C++14 host compiled" >&2; exit 1
  fi
  if [ "$(grep -c 'error:' "$work/cxx14.err")" -ne 1 ] || ! grep -q 'need C++17 or later' "$work/cxx14.err"; then
    cat "$work/cxx14.err" >&2; exit 1
  fi

  echo "== find_package, $compiler: C++17, C++20, C++23 and the package's own floor"
  log="$work/cmake-$compiler.log"
  { cmake -S "$here/host" -B "$work/cmake-$compiler" -G Ninja -DCMAKE_CXX_COMPILER=$compiler \
      ${prefix_path:+-DCMAKE_PREFIX_PATH="$prefix_path"} && cmake --build "$work/cmake-$compiler"; } \
    >"$log" 2>&1 || { cat "$log" >&2; exit 1; }
  for std in 0 17 20 23; do
    run "$work/cmake-$compiler/host$std"
  done
done
echo "hosts built and ran ($n through pkg-config, 8 through find_package)"
