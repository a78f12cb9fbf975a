#!/usr/bin/env bash
# Installs the core from BUILD_DIR into a fresh prefix, then configures, builds and runs the
# consumer project against it with find_package(nurbs_interp). Usage: test_install.sh
# SOURCE_DIR BUILD_DIR [FLAGS] (FLAGS: compile and link flags the installed library needs, such
# as the sanitizers of an instrumented build)
set -euo pipefail
src=$1
build=$2
flags=${3:-}
work=$(mktemp -d "${TMPDIR:-/tmp}/nurbs_install_XXXXXX")
trap 'rm -rf "$work"' EXIT
cmake --install "$build" --prefix "$work/prefix" >/dev/null
test -f "$work/prefix/include/nurbs_interp/nurbs.hpp"
test -f "$work/prefix/lib/cmake/nurbs_interp/nurbs_interpConfig.cmake"
cmake -S "$src/tests/consumer" -B "$work/build" -DCMAKE_PREFIX_PATH="$work/prefix" \
  -DCMAKE_CXX_FLAGS="$flags" -DCMAKE_EXE_LINKER_FLAGS="$flags" >/dev/null
cmake --build "$work/build" >/dev/null
out=$("$work/build/consumer" "$src/data/S1200X30quorbel.nurbs")
echo "$out"
case "$out" in
  "length 3499.318849 "*) ;;
  *) echo "unexpected output from the consumer: $out" >&2; exit 1 ;;
esac
