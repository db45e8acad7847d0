#!/usr/bin/env bash
# Measures the robust mode's legato split against known truth: scales played
# legato (each note-on at the previous note-off) by six instruments from two
# sound fonts (TimGM6mb and MuseScore General), notes of 0.6 to 1.5 s
# (tools/evaluate/legato.py says how they are made). Prints a Markdown table
# of the notes found (a tone within 50 cents of the note, starting within
# 50 ms of its note-on) per instrument: the default analysis, the robust
# mode without --split-legato and, when the binary has it, with it.
#
#   tools/evaluate_legato.sh [--batch PATH] [--out DIR]
#
#   --batch PATH  the toneprint-batch to evaluate (default: built here, in
#                 build/evaluate-build)
#   --out DIR     where the scales, the JSON and table.md go (default
#                 build/evaluate-legato); rendered scales are kept there
set -euo pipefail

usage() { echo "usage: tools/evaluate_legato.sh [--batch PATH] [--out DIR]" >&2; exit 2; }
batch="" out=build/evaluate-legato
while [ $# -gt 0 ]; do
  case "$1" in
    --batch) [ $# -ge 2 ] || usage; batch=$(realpath -m -- "$2"); shift ;;
    --out) [ $# -ge 2 ] || usage; out=$(realpath -m -- "$2"); shift ;;
    *) usage ;;
  esac
  shift
done
if [ -n "$batch" ] && [ ! -x "$batch" ]; then
  echo "tools/evaluate_legato.sh: --batch $batch is not an executable file" >&2
  exit 2
fi
cd "$(dirname "$0")/.."
. tools/lib/debian_packages.sh

packages=(fluidsynth timgm6mb-soundfont musescore-general-soundfont python3)
[ -n "$batch" ] || packages+=(cmake make g++ libsleef-dev libcli11-dev nlohmann-json3-dev libsndfile1-dev)
require_debian_packages "${packages[@]}"
soundfont() { dpkg -L "$1" | grep -m1 -E '\.sf[23]$'; }

if [ -z "$batch" ]; then
  cmake -S . -B build/evaluate-build -DCMAKE_BUILD_TYPE=Release -DTONEPRINT_BUILD_TESTS=OFF >/dev/null
  cmake --build build/evaluate-build --target toneprint-batch --parallel 2 >/dev/null
  batch=$PWD/build/evaluate-build/toneprint-batch
fi
help=$("$batch" --help)
# The robust mode's other changes, each by its option, so that the mode
# without the split is the robust mode less that one change.
others=()
for change in follow-tail short-attack check-vote consensus relative-threshold; do
  grep -q -- "--$change" <<<"$help" && others+=("--$change")
done
modes=(default)
[ ${#others[@]} -gt 0 ] && modes+=(robust-without-split)
grep -q -- '--split-legato' <<<"$help" && modes+=(split-legato robust)

mkdir -p "$out/json"
/usr/bin/python3 tools/evaluate/legato.py make "$out" \
  "timgm=$(soundfont timgm6mb-soundfont)" "musescore=$(soundfont musescore-general-soundfont)"
for mode in "${modes[@]}"; do
  flags=()
  case "$mode" in
    robust-without-split) flags=("${others[@]}") ;;
    split-legato) flags=(--split-legato) ;;
    robust) flags=(--robust) ;;
  esac
  start=$(date +%s.%N)
  "$batch" -f json -q --force -j 2 "${flags[@]}" -o "$out/json/$mode.json" "$out"/*.wav \
    2>"$out/json/$mode.log" || { cat "$out/json/$mode.log" >&2; exit 1; }
  awk -v a="$start" -v b="$(date +%s.%N)" -v m="$mode" \
    'BEGIN { printf "Analysis, %s: %.2f s\n", m, b - a }'
done
echo
/usr/bin/python3 tools/evaluate/legato.py score "$out" "${modes[@]}"
