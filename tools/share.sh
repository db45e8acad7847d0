#!/usr/bin/env bash
# Prints how much of the code is tests: cloc's code lines (no blanks, no
# comments; text, Markdown, JSON and YAML left out) of tests/ and fuzz/
# against those of every file git tracks, and exits 1 when the tests are not
# a quarter to a third of the code.
#
#   tools/share.sh
set -euo pipefail
cd "$(dirname "$0")/.."
. tools/lib/debian_packages.sh

require_debian_packages cloc git

code_lines() {
  cloc --quiet --csv --exclude-lang=Text,Markdown,JSON,YAML "$@" |
    awk -F, '$2 == "SUM" { print $5 }'
}
tests=$(code_lines $(git ls-files tests fuzz))
all=$(code_lines --vcs=git .)
awk -v t="$tests" -v a="$all" 'BEGIN {
  share = 100 * t / a
  printf "tests/ and fuzz/: %d of %d code lines, %.1f %%\n", t, a, share
  if (share < 25 || share > 33) { print "The tests must be a quarter to a third of the code." > "/dev/stderr"; exit 1 }
}'
