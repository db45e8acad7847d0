#!/usr/bin/env bash
# Shows what the partials analysis makes of real strings: renders piano (A0
# to C8), harpsichord (F1 to F6) and nylon and steel guitar (E2 to E5)
# notes, every third semitone, each held 2.5 s, from two sound fonts
# (TimGM6mb and MuseScore General), runs toneprint-batch --partials
# --robust on them, and writes each note's inharmonicity B (a CSV), B
# against the note (a PNG) and the median B per instrument and register (a
# Markdown summary, also printed).
#
#   tools/evaluate_inharmonicity.sh [--batch PATH] [--out DIR]
#
#   --batch PATH  the toneprint-batch to use (default: built here, in
#                 build/evaluate-build)
#   --out DIR     where the notes and results go (default
#                 build/evaluate-inharmonicity); rendered notes are kept
#                 there and only rendered again when the settings change
set -euo pipefail

. "$(dirname "$0")/lib/debian_packages.sh"
. "$(dirname "$0")/lib/evaluation.sh"
evaluation_arguments evaluate_inharmonicity.sh build/evaluate-inharmonicity -- "$@"
cd "$(dirname "$0")/.."

evaluation_batch fluidsynth timgm6mb-soundfont musescore-general-soundfont python3 python3-matplotlib

# The help is read whole first: grep -q would stop reading it early, and
# pipefail would take the writer's broken pipe for a failure.
help=$("$batch" --help)
grep -q -- '--partials' <<<"$help" || {
  echo "tools/evaluate_inharmonicity.sh: $batch has no --partials" >&2
  exit 2
}

mkdir -p "$out"
/usr/bin/python3 tools/evaluate/inharmonicity.py render "$out" \
  "timgm6mb=$(soundfont_file timgm6mb-soundfont)" "musescore=$(soundfont_file musescore-general-soundfont)"
mapfile -t files < <(awk -F, -v o="$out" 'NR > 1 { print o "/" $1 }' "$out/manifest.csv")
status=0
"$batch" --partials --robust --harmonics 15 -f json -q -j 2 --force \
  -o "$out/partials.json" "${files[@]}" 2>"$out/partials.log" || status=$?
# 1: some recording could not be read; the report counts it as unmeasured.
[ "$status" -le 1 ] || { cat "$out/partials.log" >&2; echo "toneprint-batch failed ($status)" >&2; exit 1; }
/usr/bin/python3 tools/evaluate/inharmonicity.py report "$out"
