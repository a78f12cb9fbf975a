#!/usr/bin/env bash
# Makes sure the build's Debian packages are present: installs the missing ones when run as
# root, otherwise stops naming them. Usage: scripts/ensure_deps.sh [extra-package ...]
set -euo pipefail

missing=()
have_header() { [ -e "/usr/include/$1" ]; }
command -v cmake >/dev/null 2>&1 || missing+=(cmake)
command -v g++ >/dev/null 2>&1 || missing+=(g++)
command -v make >/dev/null 2>&1 || missing+=(make)
have_header gtest/gtest.h || missing+=(libgtest-dev)
have_header benchmark/benchmark.h || missing+=(libbenchmark-dev)
have_header CLI/CLI.hpp || missing+=(libcli11-dev)
# dxflib: the tests read the part generator's drawing with it too, as an independent reader.
have_header dxflib/dl_dxf.h || missing+=(libdxflib-dev)
# COIN-OR CLP: the linear programmes of make_profile's time-optimal planner; pkg-config finds it.
have_header coin/ClpSimplex.hpp || missing+=(coinor-libclp-dev)
command -v pkg-config >/dev/null 2>&1 || missing+=(pkg-config)
for pkg in "$@"; do
  case "$pkg" in
    clang) command -v clang++ >/dev/null 2>&1 || missing+=(clang) ;;
    gnuplot | gnuplot-nox) command -v gnuplot >/dev/null 2>&1 || missing+=(gnuplot-nox) ;;
    libclang-rt-dev) ls /usr/lib/llvm-*/lib/clang/*/lib/linux/libclang_rt.fuzzer-x86_64.a >/dev/null 2>&1 || missing+=(libclang-rt-dev) ;;
    *) command -v "$pkg" >/dev/null 2>&1 || dpkg -s "$pkg" >/dev/null 2>&1 || missing+=("$pkg") ;;
  esac
done

[ ${#missing[@]} -eq 0 ] && exit 0
if [ "$(id -u)" -ne 0 ]; then
  echo "missing Debian packages: ${missing[*]} (install them with: apt-get install -y ${missing[*]})" >&2
  exit 1
fi
echo "installing Debian packages: ${missing[*]}" >&2
export DEBIAN_FRONTEND=noninteractive
apt-get update -qq >/dev/null || true
apt-get install -y -qq "${missing[@]}" >/dev/null || {
  echo "could not install: ${missing[*]} (apt-get install -y ${missing[*]})" >&2
  exit 1
}
