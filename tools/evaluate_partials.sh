#!/usr/bin/env bash
# Measures the partials analysis against known truth: synthetic stiff
# strings, tones with vibrato and tremolo, and steady harmonic tones, each
# with partials between 0 and -60 dB, two of them absent, and noise at
# -66 dBFS (tools/evaluate/partials.py says how they are made). Prints a
# Markdown table per set and mode: the default analysis, --robust,
# --partials and --partials --robust.
#
#   tools/evaluate_partials.sh [--batch PATH] [--out DIR]
#
#   --batch PATH  the toneprint-batch to evaluate (default: built here, in
#                 build/evaluate-build)
#   --out DIR     where the tones, the JSON and table.md go (default
#                 build/evaluate-partials)
set -euo pipefail

usage() { echo "usage: tools/evaluate_partials.sh [--batch PATH] [--out DIR]" >&2; exit 2; }
batch="" out=build/evaluate-partials
while [ $# -gt 0 ]; do
  case "$1" in
    --batch) [ $# -ge 2 ] || usage; batch=$(realpath -m -- "$2"); shift ;;
    --out) [ $# -ge 2 ] || usage; out=$(realpath -m -- "$2"); shift ;;
    *) usage ;;
  esac
  shift
done
if [ -n "$batch" ] && [ ! -x "$batch" ]; then
  echo "tools/evaluate_partials.sh: --batch $batch is not an executable file" >&2
  exit 2
fi
cd "$(dirname "$0")/.."
. tools/lib/debian_packages.sh

packages=(python3 python3-numpy)
[ -n "$batch" ] || packages+=(cmake make g++ libsleef-dev libcli11-dev nlohmann-json3-dev libsndfile1-dev)
require_debian_packages "${packages[@]}"

if [ -z "$batch" ]; then
  cmake -S . -B build/evaluate-build -DCMAKE_BUILD_TYPE=Release -DTONEPRINT_BUILD_TESTS=OFF >/dev/null
  cmake --build build/evaluate-build --target toneprint-batch --parallel 2 >/dev/null
  batch=$PWD/build/evaluate-build/toneprint-batch
fi
modes=(default robust)
help=$("$batch" --help)
grep -q -- '--partials' <<<"$help" && modes+=(partials robust+partials)

mkdir -p "$out/json"
[ -f "$out/steady.truth.json" ] || /usr/bin/python3 tools/evaluate/partials.py make "$out"
harmonics=$(/usr/bin/python3 -c 'import json, sys; print(json.load(open(sys.argv[1]))["harmonics"])' \
  "$out/steady.truth.json")
for mode in "${modes[@]}"; do
  flags=()
  case "$mode" in
    robust) flags=(--robust) ;;
    partials) flags=(--partials) ;;
    robust+partials) flags=(--partials --robust) ;;
  esac
  for set in stiff vibrato steady; do
    start=$(date +%s.%N)
    "$batch" -f json -q --force -j 1 --harmonics "$harmonics" "${flags[@]}" \
      -o "$out/json/$mode-$set.json" "$out/$set.wav" 2>"$out/json/$mode-$set.log" || {
      cat "$out/json/$mode-$set.log" >&2
      exit 1
    }
    awk -v a="$start" -v b="$(date +%s.%N)" -v m="$mode" -v s="$set" \
      'BEGIN { printf "Analysis, %s, %s: %.2f s\n", m, s, b - a }'
  done
done
echo
/usr/bin/python3 tools/evaluate/partials.py score "$out" "${modes[@]}"
