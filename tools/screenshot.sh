#!/usr/bin/env bash
# Renders a page that toneprint-batch wrote (--format html) to a PNG with
# headless Chromium, for people to look at.
#
#   tools/screenshot.sh [--dark] REPORT.html OUT.png [WIDTH [HEIGHT]]
#
# WIDTH and HEIGHT are the browser window's, in pixels (1100 and 1800 by
# default); the picture shows the page's top that far. --dark shows the
# page in its dark colour scheme.
set -euo pipefail
. "$(dirname "$0")/lib/debian_packages.sh"

scheme=()
if [ "${1-}" = --dark ]; then
  scheme=(--force-dark-mode)
  shift
fi
if [ $# -lt 2 ] || [ $# -gt 4 ]; then
  echo "usage: tools/screenshot.sh [--dark] REPORT.html OUT.png [WIDTH [HEIGHT]]" >&2
  exit 2
fi
[ -f "$1" ] || { echo "tools/screenshot.sh: no such file: $1" >&2; exit 2; }

require_debian_packages chromium

page=$(realpath "$1")
out=$(realpath -m "$2")
width=${3:-1100}
height=${4:-1800}
# Chromium refuses to run as root inside its sandbox; the page has no script
# and fetches nothing. A profile of its own, removed afterwards.
profile=$(mktemp -d)
trap 'rm -rf "$profile"' EXIT
rm -f "$out"
chromium --headless --no-sandbox --disable-gpu --disable-dev-shm-usage --hide-scrollbars \
  --user-data-dir="$profile" "${scheme[@]}" --window-size="$width,$height" \
  --screenshot="$out" "file://$page" 2>/dev/null >/dev/null
[ -s "$out" ] || { echo "tools/screenshot.sh: Chromium wrote no picture" >&2; exit 1; }
echo "$out"
