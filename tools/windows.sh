#!/usr/bin/env bash
# Cross-builds toneprint for Windows with MinGW-w64, 64-bit and 32-bit, both
# linked statically, and runs the 64-bit build's whole test suite under
# wine64. The 64-bit program also analyses the demo recording, whose report
# must match demo/expected-report.txt digit for digit.
#
#   tools/windows.sh
set -euo pipefail
cd "$(dirname "$0")/.."
. tools/lib/debian_packages.sh

require_debian_packages cmake make g++-mingw-w64-x86-64 g++-mingw-w64-i686 googletest wine64 \
  libcli11-dev nlohmann-json3-dev
export WINEDEBUG=-all
jobs=$(nproc 2>/dev/null || echo 2)

# A wine prefix of the build's own, set up before any test runs in it, so
# that the test programs do not race to set it up.
export WINEPREFIX="$PWD/build/wine"
wine=/usr/lib/wine/wine64
[ -x "$wine" ] || wine=$(command -v wine64 || command -v wine)
"$wine" wineboot --init >/dev/null 2>&1 || true
wineserver -w || true

cmake -S . -B build/windows-x86_64 -DCMAKE_TOOLCHAIN_FILE=cmake/toolchains/mingw-x86_64.cmake \
  -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTONEPRINT_WERROR=ON
cmake --build build/windows-x86_64 --parallel "$jobs"
# A test that fails or hangs is run once more: under wine a finished program
# now and then waits at its exit, and now and then one fails to start at all
# (it ends at once with no output); a real fault fails twice.
ctest --test-dir build/windows-x86_64 --output-on-failure --parallel "$jobs" \
  --repeat until-pass:2

# The 32-bit build: built, not run (wine64 runs 64-bit programs only).
cmake -S . -B build/windows-i686 -DCMAKE_TOOLCHAIN_FILE=cmake/toolchains/mingw-i686.cmake \
  -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTONEPRINT_WERROR=ON -DTONEPRINT_BUILD_TESTS=OFF
cmake --build build/windows-i686 --parallel "$jobs"

report=build/windows-x86_64/demo-report.txt
rm -f "$report"
printf '%s\r\n' demo/demo.wav "$report" no "" | "$wine" build/windows-x86_64/toneprint.exe >/dev/null
# Text mode wrote CR LF line ends; the digits must be those of every build.
if ! tr -d '\r' <"$report" | diff -u demo/expected-report.txt -; then
  echo "The Windows build's report of the demo differs from demo/expected-report.txt." >&2
  exit 1
fi
# toneprint-batch's classic report of the demo: the same digits.
"$wine" build/windows-x86_64/toneprint-batch.exe -q -f classic demo/demo.wav | tr -d '\r' |
  diff -u demo/expected-report.txt - ||
  { echo "The Windows toneprint-batch's report of the demo differs." >&2; exit 1; }
echo "Windows builds: tests passed under wine64; the demo's reports match."
