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

. "$(dirname "$0")/lib/debian_packages.sh"
. "$(dirname "$0")/lib/evaluation.sh"
evaluation_arguments evaluate_partials.sh build/evaluate-partials -- "$@"
cd "$(dirname "$0")/.."

evaluation_batch python3 python3-numpy

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
