#!/usr/bin/env bash
# Builds toneprint and runs every test.
#
#   tools/test.sh              GCC build in build/release
#   tools/test.sh --sanitize   Clang build with the address and undefined-
#                              behaviour sanitizers in build/sanitize; any
#                              sanitizer report fails the run
#
# Missing Debian packages are installed when run as root; otherwise the
# script names them and stops.
set -euo pipefail
cd "$(dirname "$0")/.."
. tools/lib/debian_packages.sh

mode=release
case "${1-}" in
  "") ;;
  --sanitize) mode=sanitize ;;
  *) echo "usage: tools/test.sh [--sanitize]" >&2; exit 2 ;;
esac

packages=(cmake make g++ libgtest-dev libsleef-dev libcli11-dev nlohmann-json3-dev libbenchmark-dev libsndfile1-dev
  vamp-plugin-sdk vamp-examples raptor2-utils)
# The Python module and its tests (pytest, numpy, matplotlib for the
# README's example); the sanitizer build leaves the module out.
[ "$mode" = release ] &&
  packages+=(python3-dev pybind11-dev python3-pybind11 python3-numpy python3-pytest python3-matplotlib)
[ "$mode" = sanitize ] && packages+=(clang libclang-rt-dev)

require_debian_packages "${packages[@]}"

jobs=$(nproc 2>/dev/null || echo 2)
build="build/$mode"
options=(-DCMAKE_BUILD_TYPE=RelWithDebInfo -DTONEPRINT_WERROR=ON)
# The module is built for Debian's Python, whose packages were installed
# above, whatever other python3 comes first on the PATH.
[ -x /usr/bin/python3 ] && options+=(-DPython3_EXECUTABLE=/usr/bin/python3)
# The benchmarks are built too, so that they keep building; tools/bench.sh
# runs them.
[ "$mode" = release ] && options+=(-DTONEPRINT_BUILD_BENCHMARKS=ON)
if [ "$mode" = sanitize ]; then
  options+=(-DTONEPRINT_SANITIZE=ON -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++)
  export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1:strict_string_checks=1
  export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
fi

cmake -S . -B "$build" "${options[@]}"
cmake --build "$build" --parallel "$jobs"
ctest --test-dir "$build" --output-on-failure --parallel "$jobs"
