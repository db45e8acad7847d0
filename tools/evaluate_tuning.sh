#!/usr/bin/env bash
# Measures tuning against a target on known truth: synthetic scales and
# chords in Werckmeister III at A4 = 415 Hz, quarter-comma meantone at 430,
# equal temperament at 442 stretched 1.5 cents an octave, Kirnberger III on
# Eb, and Vallotti and 19 equal steps from Scala files at 440
# (tools/evaluate/tuning.py says how they are made and checked), judged with
# --expect, with a wrong --a4 and by the nearest note; a few notes as
# separate files for --expect filename and smpl; and the octave guard of
# --robust. Prints a Markdown table and exits 1 when any check fails.
#
#   tools/evaluate_tuning.sh [--batch PATH] [--out DIR]
#
#   --batch PATH  the toneprint-batch to evaluate (default: built here, in
#                 build/evaluate-build)
#   --out DIR     where the recordings, the JSON and table.md go (default
#                 build/evaluate-tuning)
set -euo pipefail

. "$(dirname "$0")/lib/debian_packages.sh"
. "$(dirname "$0")/lib/evaluation.sh"
evaluation_arguments evaluate_tuning.sh build/evaluate-tuning -- "$@"
cd "$(dirname "$0")/.."

evaluation_batch python3 python3-numpy

if ! "$batch" --help | grep -q -- '--temperament-root'; then
  echo "tools/evaluate_tuning.sh: $batch has no --expect and --temperament" >&2
  exit 2
fi

# The recordings are written afresh each run (a few seconds), so that a
# changed harness never scores old files.
/usr/bin/python3 tools/evaluate/tuning.py make "$out"
/usr/bin/python3 tools/evaluate/tuning.py run "$out" "$batch"
