#!/usr/bin/env bash
# Builds the libFuzzer targets in fuzz/ with Clang and runs each in turn.
#
#   tools/fuzz.sh [SECONDS]     each target for SECONDS (default 60)
#
# Each target runs as one process (both cores are shared with the rest of
# the machine), starting from a scratch corpus in build/fuzz/corpus/<target>
# that holds the checked-in seeds, the earlier findings in fuzz/regressions/
# and, for the WAVE targets, tests/corpus/files/ when it exists. An input
# that runs longer than 10 s is a hang, one that takes more than 512 MB of
# memory (or asks for that much at once) an out-of-memory. What a target
# finds is kept in build/fuzz/artifacts/<target>/; the script exits 1 when
# any target found a crash, a leak, a hang or an out-of-memory.
#
# Missing Debian packages are installed when run as root; otherwise the
# script names them and stops.
set -euo pipefail
cd "$(dirname "$0")/.."
. tools/lib/debian_packages.sh

seconds=${1-60}
case "$seconds" in
  '' | *[!0-9]*) echo "usage: tools/fuzz.sh [SECONDS]" >&2; exit 2 ;;
esac

require_debian_packages cmake make clang libclang-rt-dev

build=build/fuzz
cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_CXX_COMPILER=clang++ \
  -DTONEPRINT_FUZZ=ON -DTONEPRINT_BUILD_TESTS=OFF -DTONEPRINT_WERROR=ON >/dev/null
cmake --build "$build" --parallel "$(nproc 2>/dev/null || echo 2)" >/dev/null

# target  dictionary  seed folders
targets=(
  "fuzz_wave_reader fuzz/wave.dict fuzz/seeds/wave tests/corpus/files"
  "fuzz_analysis fuzz/wave.dict fuzz/seeds/wave tests/corpus/files"
  "fuzz_console fuzz/console.dict fuzz/seeds/console"
  "fuzz_scala fuzz/scala.dict fuzz/seeds/scala"
  "fuzz_stored_results fuzz/results.dict fuzz/seeds/results"
)

# The targets write each input to a scratch file in the temporary folder; one
# that crashes leaves its file behind, here rather than in /tmp.
export TMPDIR="$PWD/$build/tmp"
mkdir -p "$TMPDIR"
# ASan's quarantine of freed memory (256 MB by default) would take half of
# the memory limit by itself.
export ASAN_OPTIONS="${ASAN_OPTIONS:+$ASAN_OPTIONS:}quarantine_size_mb=64"

failed=0
summary=()
for entry in "${targets[@]}"; do
  read -r target dict seed_folders <<<"$entry"
  corpus="$build/corpus/$target"
  artifacts="$build/artifacts/$target"
  log="$build/logs/$target.log"
  mkdir -p "$corpus" "$artifacts" "$(dirname "$log")"
  for folder in $seed_folders; do
    [ -d "$folder" ] && find "$folder" -maxdepth 1 -type f -exec cp -- {} "$corpus/" \;
  done
  find fuzz/regressions -maxdepth 1 -type f -name "$target-*" -exec cp -- {} "$corpus/" \;

  echo "== $target: $seconds s"
  status=0
  "$build/$target" "$corpus" -dict="$dict" -max_total_time="$seconds" -timeout=10 \
    -rss_limit_mb=512 -max_len=16384 -print_final_stats=1 -artifact_prefix="$artifacts/" \
    >"$log" 2>&1 || status=$?

  runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -n 1)
  found=$(grep -E -o 'ERROR: (libFuzzer|AddressSanitizer|LeakSanitizer): [a-z-]+( [a-z-]+)*|runtime error: .*|check failed: .*' "$log" | head -n 1 || true)
  artifact=$(sed -n 's/.*Test unit written to //p' "$log" | head -n 1)
  if [ "$status" -ne 0 ] || [ -n "$artifact" ]; then
    failed=1
    tail -n 40 "$log"
    summary+=("$target: ${runs:-?} executions; FOUND ${found:-a failure (exit status $status)}; input: ${artifact:-none}; log: $log")
  else
    summary+=("$target: ${runs:-?} executions; nothing found")
  fi
done

echo
printf '%s\n' "${summary[@]}"
exit "$failed"
