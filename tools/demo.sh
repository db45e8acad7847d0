#!/usr/bin/env bash
# Builds toneprint and runs it on the demo recording, answering its
# questions through standard input as a user would type them: the recording,
# the report file, "no" to changing the settings, and Enter at the end.
# Then shows the report, the same analysis by toneprint-batch, the Vamp
# plugin's tones as vamp-simple-host prints them, and the Python module's
# notes (the module is built for Debian's /usr/bin/python3 in build/demo/python).
#
#   tools/demo.sh
#
# Missing Debian packages are installed when run as root; otherwise the
# script names them and stops.
set -euo pipefail
cd "$(dirname "$0")/.."
. tools/lib/debian_packages.sh

require_debian_packages cmake make g++ libsleef-dev libcli11-dev nlohmann-json3-dev libsndfile1-dev \
  vamp-plugin-sdk vamp-examples python3-dev pybind11-dev python3-numpy
cmake -S . -B build/demo -DCMAKE_BUILD_TYPE=Release -DTONEPRINT_BUILD_TESTS=OFF \
  -DPython3_EXECUTABLE=/usr/bin/python3 >/dev/null
cmake --build build/demo --parallel "$(nproc 2>/dev/null || echo 2)" >/dev/null

report=build/demo/demo-report.txt
rm -f "$report"
printf '%s\n' demo/demo.wav "$report" no "" | build/demo/toneprint
echo
echo "The report, $report:"
cat "$report"

# The same recording must give the same digits on every platform and build.
if ! diff -u demo/expected-report.txt "$report"; then
  echo "The report differs from demo/expected-report.txt (above)." >&2
  exit 1
fi

# The same analysis without questions: one CSV row per tone, with its times,
# its note and its deviation in cents.
echo
echo "toneprint-batch demo/demo.wav:"
build/demo/toneprint-batch demo/demo.wav

# And as a page of charts, for a browser.
page=build/demo/demo.html
build/demo/toneprint-batch -q --force -f html -o "$page" demo/demo.wav
echo
echo "toneprint-batch -f html: the page $page (open it in a browser)."

# And through the Vamp plugin, in a host: each tone's start and length in
# seconds, its frequency and its label.
echo
echo "vamp-simple-host toneprint:tones:tones demo/demo.wav:"
VAMP_PATH=build/demo/vamp vamp-simple-host toneprint:tones:tones demo/demo.wav 2>/dev/null

# And in Python, from the build folder.
echo
echo "PYTHONPATH=build/demo/python /usr/bin/python3: each tone's note and cents:"
PYTHONPATH=build/demo/python /usr/bin/python3 -c '
import toneprint
for tone in toneprint.analyse_file("demo/demo.wav"):
    print(tone.note, round(tone.cents, 1))'
