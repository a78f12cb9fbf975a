#!/usr/bin/env bash
# valgrind memcheck of nurbs_bench on the bundled curve (first 2000 samples of the bundled profile)
# and of the curve loader and profile reader tests. Fails on any error or leak.
# Usage: scripts/memcheck.sh BUILD_DIR
set -euo pipefail
build=$(cd "$1" && pwd)
root=$(cd "$(dirname "$0")/.." && pwd)
vg=(valgrind --error-exitcode=1 --leak-check=full --show-leak-kinds=definite,indirect,possible
    --errors-for-leak-kinds=definite,indirect,possible --quiet)

run_dir="$build/memcheck-run"
rm -rf "$run_dir" && mkdir -p "$run_dir"
cp "$root/data/S1200X30quorbel.nurbs" "$run_dir/"
{ echo "N=2000"; sed -n '2,2001p' "$root/data/fprof.txt"; } > "$run_dir/fprof.txt"
echo "== valgrind nurbs_bench (bundled curve, 2000 samples)"
(cd "$run_dir" && "${vg[@]}" "$build/nurbs_bench")
echo "== valgrind test_nurbs (loader tests)"
"${vg[@]}" "$build/test_nurbs" --gtest_filter='Loader.*:PointArrays.*' --gtest_brief=1
echo "== valgrind test_curve_def (the loader from memory)"
"${vg[@]}" "$build/test_curve_def" --gtest_brief=1
echo "== valgrind test_feed_profile (profile reader tests)"
"${vg[@]}" "$build/test_feed_profile" --gtest_brief=1
echo "memcheck: 0 errors, 0 leaks"
