#!/usr/bin/env bash
# Installs the core and the method interface from BUILD_DIR into a fresh prefix, then builds the
# example method (examples/methods) against it with find_package(nurbs_interp), as a reader of
# the README does, and a method that links the installed core (tests/consumer_method); leaves
# both libraries in OUT_DIR for test_method_example to load. Usage:
# test_install_method.sh SOURCE_DIR BUILD_DIR OUT_DIR [FLAGS] (FLAGS: compile and link flags the
# installed core needs, such as the sanitizers of an instrumented build)
set -euo pipefail
src=$1
build=$2
out=$3
flags=${4:-}
work=$(mktemp -d "${TMPDIR:-/tmp}/nurbs_method_XXXXXX")
trap 'rm -rf "$work"' EXIT
cmake --install "$build" --prefix "$work/prefix" >/dev/null
test -f "$work/prefix/include/nurbs_interp/nurbs_method.h"
test -f "$work/prefix/lib/cmake/nurbs_interp/nurbs_interpMethod.cmake"
# The example's own directory, copied out of the tree: it needs nothing but the package.
cp -r "$src/examples/methods" "$work/method"
cmake -S "$work/method" -B "$work/build" -DCMAKE_PREFIX_PATH="$work/prefix" >/dev/null
cmake --build "$work/build" >/dev/null
cmake -S "$src/tests/consumer_method" -B "$work/core" -DCMAKE_PREFIX_PATH="$work/prefix" \
  -DCMAKE_CXX_FLAGS="$flags" -DCMAKE_MODULE_LINKER_FLAGS="$flags" >/dev/null
cmake --build "$work/core" >/dev/null
rm -rf "$out"
mkdir -p "$out"
cp "$work/build/librk4_ds.so" "$work/core/libtaylor2_core.so" "$out/"
echo "built librk4_ds.so and libtaylor2_core.so in $out against the package installed in a" \
  "fresh prefix"
