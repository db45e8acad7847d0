#!/usr/bin/env bash
# Measures toneprint-batch's pitch accuracy on sampled instruments: 24 General
# MIDI instruments, 7 notes each over their usual range, from two sound fonts
# (TimGM6mb and MuseScore General), each note plain, 30 dB quieter and with
# white noise 50 dB below its peak. Prints a Markdown table of gross errors
# (no pitch, or more than 50 cents off) and the median deviation in cents,
# per instrument and per variant, for the default mode and, when the binary
# has it, --robust (with --expect filename, which gives each note's octave
# guard its note from the file name, when the binary has that too).
#
#   tools/evaluate.sh [--quick] [--batch PATH] [--out DIR]
#
#   --quick       4 instruments, 3 notes each: a smoke test
#   --batch PATH  the toneprint-batch to evaluate (default: built here, in
#                 build/evaluate-build)
#   --out DIR     where the notes, the JSON, results.csv and table.md go
#                 (default build/evaluate); rendered notes are kept there and
#                 only rendered again when the render settings change
set -euo pipefail

. "$(dirname "$0")/lib/debian_packages.sh"
. "$(dirname "$0")/lib/evaluation.sh"
evaluation_arguments evaluate.sh build/evaluate --quick -- "$@"
cd "$(dirname "$0")/.."

evaluation_batch fluidsynth timgm6mb-soundfont musescore-general-soundfont python3
timgm=$(soundfont_file timgm6mb-soundfont)
musescore=$(soundfont_file musescore-general-soundfont)

modes=(default)
help=$("$batch" --help)
grep -q -- '--robust' <<<"$help" && modes+=(robust)
# The rendered notes are named after their note (..._056-Gs3.wav), so the
# robust mode can expect it; the default mode's run stays as it was.
expect=() robust_label=robust
if grep -q -- '--expect' <<<"$help"; then
  expect=(--expect filename) robust_label="robust, --expect filename"
fi

now() { date +%s.%N; }
took() { awk -v a="$1" -v b="$(now)" 'BEGIN { printf "%.1f s", b - a }'; }

# One gain for every note: 1.8 puts the loudest note near -1 dBFS.
mkdir -p "$out/json"
start=$(now)
python3 tools/evaluate/render.py "$out" "${quick[@]}" --jobs 2 --gain 1.8 \
  "timgm6mb=$timgm" "musescore=$musescore"
echo "Rendering (or finding the rendered notes): $(took "$start")"

# Only the manifest's files, so that a quick run skips the full set's notes.
for mode in "${modes[@]}"; do
  flags=()
  [ "$mode" = robust ] && flags=(--robust "${expect[@]}")
  for variant in plain quiet noisy; do
    mapfile -t files < <(awk -F, -v v="$variant" -v o="$out" 'NR > 1 && $8 == v { print o "/" $1 }' "$out/manifest.csv")
    start=$(now)
    status=0
    log="$out/json/$mode-$variant.log"
    "$batch" -f json -q -j 2 --force "${flags[@]}" -o "$out/json/$mode-$variant.json" \
      "${files[@]}" 2>"$log" || status=$?
    # 1: some recording could not be read; the scores count it as unmeasured.
    [ "$status" -le 1 ] || { cat "$log" >&2; echo "toneprint-batch failed ($status) on the $variant notes" >&2; exit 1; }
    said=$(wc -l <"$log") note=""
    [ "$said" -eq 0 ] || note=" (standard error, $said line(s): $log)"
    echo "Analysis, $mode mode, $variant: ${#files[@]} recordings in $(took "$start")$note"
  done
done
echo
labelled=()
for mode in "${modes[@]}"; do
  case "$mode" in
    robust) labelled+=("robust=$robust_label") ;;
    *) labelled+=("$mode") ;;
  esac
done
python3 tools/evaluate/score.py "$out" "${labelled[@]}"
echo
echo "Per-note results: $out/results.csv; the table: $out/table.md"
