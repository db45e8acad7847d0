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

usage() { echo "usage: tools/evaluate_inharmonicity.sh [--batch PATH] [--out DIR]" >&2; exit 2; }
batch="" out=build/evaluate-inharmonicity
while [ $# -gt 0 ]; do
  case "$1" in
    --batch) [ $# -ge 2 ] || usage; batch=$(realpath -m -- "$2"); shift ;;
    --out) [ $# -ge 2 ] || usage; out=$(realpath -m -- "$2"); shift ;;
    *) usage ;;
  esac
  shift
done
if [ -n "$batch" ] && [ ! -x "$batch" ]; then
  echo "tools/evaluate_inharmonicity.sh: --batch $batch is not an executable file" >&2
  exit 2
fi
cd "$(dirname "$0")/.."
. tools/lib/debian_packages.sh

packages=(fluidsynth timgm6mb-soundfont musescore-general-soundfont python3 python3-matplotlib)
[ -n "$batch" ] || packages+=(cmake make g++ libsleef-dev libcli11-dev nlohmann-json3-dev libsndfile1-dev)
require_debian_packages "${packages[@]}"
soundfont() { dpkg -L "$1" | grep -m1 -E '\.sf[23]$'; }

if [ -z "$batch" ]; then
  cmake -S . -B build/evaluate-build -DCMAKE_BUILD_TYPE=Release -DTONEPRINT_BUILD_TESTS=OFF >/dev/null
  cmake --build build/evaluate-build --target toneprint-batch --parallel 2 >/dev/null
  batch=$PWD/build/evaluate-build/toneprint-batch
fi
# The help is read whole first: grep -q would stop reading it early, and
# pipefail would take the writer's broken pipe for a failure.
help=$("$batch" --help)
grep -q -- '--partials' <<<"$help" || {
  echo "tools/evaluate_inharmonicity.sh: $batch has no --partials" >&2
  exit 2
}

mkdir -p "$out"
/usr/bin/python3 tools/evaluate/inharmonicity.py render "$out" \
  "timgm6mb=$(soundfont timgm6mb-soundfont)" "musescore=$(soundfont musescore-general-soundfont)"
mapfile -t files < <(awk -F, -v o="$out" 'NR > 1 { print o "/" $1 }' "$out/manifest.csv")
status=0
"$batch" --partials --robust --harmonics 15 -f json -q -j 2 --force \
  -o "$out/partials.json" "${files[@]}" 2>"$out/partials.log" || status=$?
# 1: some recording could not be read; the report counts it as unmeasured.
[ "$status" -le 1 ] || { cat "$out/partials.log" >&2; echo "toneprint-batch failed ($status)" >&2; exit 1; }
/usr/bin/python3 tools/evaluate/inharmonicity.py report "$out"
