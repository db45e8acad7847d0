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

. "$(dirname "$0")/lib/debian_packages.sh"
. "$(dirname "$0")/lib/evaluation.sh"
evaluation_arguments evaluate_legato.sh build/evaluate-legato -- "$@"
cd "$(dirname "$0")/.."

evaluation_batch fluidsynth timgm6mb-soundfont musescore-general-soundfont python3

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
  "timgm=$(soundfont_file timgm6mb-soundfont)" "musescore=$(soundfont_file musescore-general-soundfont)"
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
