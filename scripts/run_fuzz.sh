#!/usr/bin/env bash
# Runs each libFuzzer harness for a number of seconds on a corpus seeded from the bundled and test
# files. Usage: scripts/run_fuzz.sh BUILD_DIR [SECONDS]. Exits non-zero if a harness finds a
# crash, a hang (over 10 s on one input) or a leak; the input lands in BUILD_DIR/artifacts/.
set -euo pipefail
build=$1
seconds=${2:-60}
root=$(cd "$(dirname "$0")/.." && pwd)
mkdir -p "$build/artifacts"

seed() { # seed NAME FILES...: a fresh corpus directory holding copies of the seed files
  local dir="$build/corpus/$1"; shift
  mkdir -p "$dir"
  for f in "$@"; do [ -f "$f" ] && cp "$f" "$dir/" || true; done
}
seed curve "$root"/data/*.nurbs "$root"/data/curves/*.nurbs "$root"/tests/data/*.nurbs "$root"/tests/fuzz_regressions/curve/*
# The bundled profile is long; its first samples make a seed of the same shape.
mkdir -p "$build/corpus/profile"
if [ -f "$root/data/fprof.txt" ]; then
  { echo "N=40"; sed -n '2,41p' "$root/data/fprof.txt"; } > "$build/corpus/profile/fprof_head.txt"
fi
printf 'N=3\n1.0 2.0 3.0\n4e1 -5e-1 6\n7 8 9\n' > "$build/corpus/profile/small.txt"
for f in "$root"/tests/fuzz_regressions/profile/*; do [ -f "$f" ] && cp "$f" "$build/corpus/profile/"; done

status=0
# The importers: G-code programs and DXF drawings.
seed import "$root"/data/curves/*.ngc "$root"/data/curves/*.dxf "$root"/tests/fuzz_regressions/import/*
for harness in fuzz_curve_loader fuzz_profile_reader fuzz_importers; do
  name=profile
  [ "$harness" = fuzz_curve_loader ] && name=curve
  [ "$harness" = fuzz_importers ] && name=import
  echo "== $harness: ${seconds} s"
  if ! "$build/$harness" "$build/corpus/$name" -max_total_time="$seconds" -timeout=10 \
      -rss_limit_mb=2048 -malloc_limit_mb=1024 -print_final_stats=1 \
      -artifact_prefix="$build/artifacts/$harness-" 2>"$build/$harness.log"; then
    echo "$harness FAILED; see $build/$harness.log and $build/artifacts/" >&2
    tail -n 40 "$build/$harness.log" >&2
    status=1
  fi
  grep -E '^stat::(number_of_executed_units|average_exec_per_sec|peak_rss_mb)|^#[0-9]+.*DONE' "$build/$harness.log" || true
done
exit $status
