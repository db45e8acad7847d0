#!/usr/bin/env bash
# Builds the benchmarks and runs them: the FFT, pitch detection, one pass's
# harmonic measurement, and the whole analysis of a long session (120
# harmonic tones of 2 s with 0.8 s of silence at 48 kHz, 336 s). Then runs
# the program itself on that session and prints the end-to-end figure.
#
#   tools/bench.sh             the benchmarks and the end-to-end figure
#   tools/bench.sh --compare   also times aubiopitch -p yinfft on the same
#                              file, side by side (aubio-tools, hyperfine),
#                              and in alternation with the processor time
#                              of each and their ratios (tools/bench/compare.py)
set -euo pipefail
cd "$(dirname "$0")/.."
. tools/lib/debian_packages.sh

compare=no
case "${1-}" in
  "") ;;
  --compare) compare=yes ;;
  *) echo "usage: tools/bench.sh [--compare]" >&2; exit 2 ;;
esac

packages=(cmake make g++ libbenchmark-dev libsleef-dev)
[ "$compare" = yes ] && packages+=(aubio-tools hyperfine)
require_debian_packages "${packages[@]}"

build=build/bench
cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=Release -DTONEPRINT_BUILD_BENCHMARKS=ON \
  -DTONEPRINT_BUILD_TESTS=OFF >/dev/null
cmake --build "$build" --parallel "$(nproc 2>/dev/null || echo 2)" >/dev/null

session="$build/long-session.wav"
[ -f "$session" ] || "$build/bench/toneprint_make_session" "$session"
"$build/bench/toneprint_benchmarks"

# The whole program, as a user runs it: the answers piped in, the report
# written; the best of five runs.
report="$build/long-session-report.txt"
run_program() {
  rm -f "$report"
  printf '%s\n' "$session" "$report" no "" | "$build/toneprint" >/dev/null
}
best=""
for _ in 1 2 3 4 5; do
  start=$(date +%s%N)
  run_program
  elapsed=$(( $(date +%s%N) - start ))
  if [ -z "$best" ] || [ "$elapsed" -lt "$best" ]; then best=$elapsed; fi
done
awk -v ns="$best" 'BEGIN {
  s = ns / 1e9
  printf "\nThe whole program on the long session (336 s of sound): %.3f s, %.0f times real time\n", s, 336 / s
}'

rm -f "$report"

if [ "$compare" = yes ]; then
  # The report must not exist before a run: toneprint would ask whether to
  # replace it, and the answers piped in would go astray.
  echo
  hyperfine --warmup 1 --runs 10 --prepare "rm -f '$report'" \
    -n toneprint "printf '%s\\n' '$session' '$report' no '' | $build/toneprint >/dev/null" \
    -n "aubiopitch -p yinfft" "aubiopitch -p yinfft -i '$session' >/dev/null"
  # Wall and processor time (all threads), alternating the two programs, as
  # ratios to aubiopitch's.
  echo
  python3 tools/bench/compare.py 11 --prepare "rm -f '$report'" \
    "toneprint=printf '%s\\n' '$session' '$report' no '' | $build/toneprint >/dev/null" \
    "aubiopitch -p yinfft=aubiopitch -p yinfft -i '$session' >/dev/null"
  rm -f "$report"
fi
