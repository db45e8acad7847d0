#!/usr/bin/env bash
# Measures how many small changes to src/ the tests notice, with the
# mutation harness in ../shared/tools/mutants.py: the same draws every time
# (seeds 1, 2 and 3, 40 changes each), so that kill rates can be compared
# from one change of the tests to the next. The harness keeps its copy of
# the repository, the results (SEED.json) and the logs (SEED.log) outside
# the repository, in $TONEPRINT_MUTANTS_DIR (by default
# /tmp/toneprint-mutants).
#
#   tools/mutants.sh [--uncommitted] [SEED...]
set -euo pipefail
cd "$(dirname "$0")/.."
harness=../shared/tools/mutants.py
[ -f "$harness" ] || { echo "The mutation harness $harness is not here." >&2; exit 1; }
out=${TONEPRINT_MUTANTS_DIR:-${TMPDIR:-/tmp}/toneprint-mutants}

options=()
if [ "${1-}" = --uncommitted ]; then options+=(--uncommitted); shift; fi
seeds=("$@")
[ ${#seeds[@]} -gt 0 ] || seeds=(1 2 3)
mkdir -p "$out"
for seed in "${seeds[@]}"; do
  if ! python3 "$harness" --repo . "${options[@]}" --n 40 --seed "$seed" --work "$out/work" \
    --out "$out/$seed.json" >"$out/$seed.log" 2>&1; then
    tail -n 5 "$out/$seed.log" >&2
    exit 1
  fi
  echo "seed $seed: $(tail -n 1 "$out/$seed.log")"
done
