#!/usr/bin/env bash
# Builds the packages that install toneprint for people who do not build it.
#
#   tools/package.sh            the browser page (tools/web.sh), a Release build
#                               in build/package and its Debian packages,
#                               build/package/toneprint_VERSION_ARCH.deb and
#                               python3-toneprint_VERSION_ARCH.deb
#   tools/package.sh --check    the same, then (as root on Debian) installs the
#                               packages with apt-get and, from the installed
#                               files only, runs both programs (toneprint-batch
#                               in every format), the Vamp plugin, the Python
#                               module and the page's browser test on the demo,
#                               checks their version, manual pages and licence
#                               files, runs the README's Python example,
#                               installs the module with pip into a virtual
#                               environment, purges the packages and checks
#                               that none of their files is left
#   tools/package.sh --windows  MinGW-w64 Release builds in build/package-windows-*
#                               and their zips, toneprint-VERSION-win64.zip and
#                               -win32.zip; the 64-bit one's programs analyse
#                               the demo under wine64, unpacked
#
# Missing Debian packages are installed when run as root; otherwise the
# script names them and stops.
set -euo pipefail
cd "$(dirname "$0")/.."
. tools/lib/debian_packages.sh

usage() { echo "usage: tools/package.sh [--check | --windows]" >&2; exit 2; }
mode=deb
case "${1-}" in
  "") ;;
  --check) mode=check ;;
  --windows) mode=windows ;;
  *) usage ;;
esac
[ $# -le 1 ] || usage

# The one version: project(toneprint VERSION ...) in CMakeLists.txt.
version=$(sed -n 's/^project(toneprint VERSION \([0-9][0-9.]*\)[ )].*/\1/p' CMakeLists.txt)
if [ -z "$version" ]; then
  echo "tools/package.sh: no project(toneprint VERSION ...) in CMakeLists.txt" >&2
  exit 1
fi
jobs=$(nproc 2>/dev/null || echo 2)
[ "$jobs" -gt 2 ] && jobs=2
sizes() {  # sizes FILE...: each package's size, as a table
  local file
  printf '%-48s %10s\n' Package "Size (KiB)"
  for file in "$@"; do
    printf '%-48s %10s\n' "$(basename "$file")" "$(( ($(stat -c %s "$file") + 1023) / 1024 ))"
  done
}

if [ "$mode" = windows ]; then
  require_debian_packages cmake make g++-mingw-w64-x86-64 g++-mingw-w64-i686 wine64 \
    libcli11-dev nlohmann-json3-dev groff-base unzip
  for arch in x86_64 i686; do
    build=build/package-windows-$arch
    toolchain=()  # only for a new build folder: CMake keeps it, and warns when it is given again
    [ -f "$build/CMakeCache.txt" ] ||
      toolchain=(-DCMAKE_TOOLCHAIN_FILE="cmake/toolchains/mingw-$arch.cmake")
    cmake -S . -B "$build" "${toolchain[@]}" -DCMAKE_BUILD_TYPE=Release -DTONEPRINT_BUILD_TESTS=OFF \
      >/dev/null
    cmake --build "$build" --parallel "$jobs" >/dev/null
    # Each .exe must run alone: no MinGW runtime DLL (libstdc++, libgcc,
    # libwinpthread) among its imports, only Windows' own.
    for program in toneprint toneprint-batch; do
      imports=$("$arch-w64-mingw32-objdump" -p "$build/$program.exe" | sed -n 's/^\s*DLL Name: //p')
      if grep -qi '^lib' <<<"$imports"; then
        echo "$build/$program.exe needs DLLs that Windows does not have:" $imports >&2
        exit 1
      fi
      echo "$program.exe ($arch) imports only:" $imports
    done
    rm -f "$build"/toneprint-*.zip
    (cd "$build" && cpack -G ZIP >/dev/null)
  done

  # The 64-bit zip as a user gets it: unpacked, toneprint-batch.exe from it
  # gives the demo's report digit for digit.
  zip=build/package-windows-x86_64/toneprint-$version-win64.zip
  [ -f "$zip" ] || { echo "cpack made no $zip" >&2; exit 1; }
  # Into a folder named after the zip, as Windows' "Extract All" does.
  folder=build/package-windows-x86_64/unpacked/toneprint-$version-win64
  rm -rf "$folder"
  mkdir -p "$(dirname "$folder")"
  unzip -q "$zip" -d "$folder"
  for file in toneprint.exe toneprint-batch.exe README.txt manual/toneprint.txt \
              manual/toneprint-batch.txt LICENSE CHANGELOG.md COPYRIGHT.txt docs/licences.md \
              licences/mingw-w64.txt; do
    [ -f "$folder/$file" ] || { echo "$zip lacks $file" >&2; exit 1; }
  done
  export WINEDEBUG=-all WINEPREFIX="$PWD/build/wine"
  wine=/usr/lib/wine/wine64
  [ -x "$wine" ] || wine=$(command -v wine64 || command -v wine)
  "$wine" wineboot --init >/dev/null 2>&1 || true
  server=$(dirname "$wine")/wineserver
  [ -x "$server" ] || server=$(command -v wineserver || echo true)
  "$server" -w || true
  "$wine" "$folder/toneprint-batch.exe" -q -f classic demo/demo.wav | tr -d '\r' |
    diff -u demo/expected-report.txt - ||
    { echo "The zipped toneprint-batch.exe's report of the demo differs." >&2; exit 1; }
  # The interactive program with a user's answers on its standard input,
  # which it then reads instead of opening file dialogs.
  rm -f "$folder/report.txt"
  printf '%s\r\n' demo/demo.wav "$folder/report.txt" no "" | "$wine" "$folder/toneprint.exe" >/dev/null
  tr -d '\r' <"$folder/report.txt" | diff -u demo/expected-report.txt - ||
    { echo "The zipped toneprint.exe's report of the demo differs." >&2; exit 1; }
  shown=$("$wine" "$folder/toneprint-batch.exe" --version | tr -d '\r' | head -n 1)
  [ "$shown" = "toneprint-batch $version" ] ||
    { echo "toneprint-batch.exe --version says \"$shown\", not toneprint-batch $version" >&2; exit 1; }
  echo
  unzip -l "$zip"
  unzip -l build/package-windows-i686/toneprint-"$version"-win32.zip | tail -n 1
  echo "Windows zips: build/package-windows-x86_64/toneprint-$version-win64.zip and" \
    "build/package-windows-i686/toneprint-$version-win32.zip; the 64-bit one's programs give the"\
    "demo's report, and it holds the licences."
  sizes "$zip" build/package-windows-i686/toneprint-"$version"-win32.zip
  exit 0
fi

# dpkg-shlibdeps (dpkg-dev) names the libraries the package depends on;
# cpack finds the programs among the files with file.
require_debian_packages cmake make g++ libsleef-dev libcli11-dev nlohmann-json3-dev libsndfile1-dev \
  vamp-plugin-sdk python3-dev pybind11-dev python3-pybind11 dpkg-dev file
# The page first, so that the package always has it. --check runs the
# page's browser test on the installed copy, which needs the test's tools
# (puppeteer, a native toneprint-batch) that tools/web.sh --test sets up.
if [ "$mode" = check ] &&
   { [ ! -d build/web-test/node_modules/puppeteer-core ] || [ ! -x build/release/toneprint-batch ]; }; then
  tools/web.sh --test
else
  tools/web.sh
fi
build=build/package
# The Python module is for Debian's Python 3, whatever python3 comes first
# on the PATH, in Debian's place for modules.
cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=Release -DTONEPRINT_BUILD_TESTS=OFF \
  -DPython3_EXECUTABLE=/usr/bin/python3 -DTONEPRINT_PYTHON_INSTALL_DIR=lib/python3/dist-packages \
  -DTONEPRINT_WEB_PAGE="$PWD/build/web" >/dev/null
cmake --build "$build" --parallel "$jobs" >/dev/null
rm -f "$build"/toneprint_*.deb "$build"/python3-toneprint_*.deb
(cd "$build" && cpack -G DEB >/dev/null)
deb=$build/toneprint_${version}_$(dpkg --print-architecture).deb
python_deb=$build/python3-toneprint_${version}_$(dpkg --print-architecture).deb
for file in "$deb" "$python_deb"; do
  [ -f "$file" ] || { echo "cpack made no $file" >&2; exit 1; }
  dpkg-deb -I "$file"
  dpkg-deb -c "$file"
done
echo "The Debian packages: $deb and $python_deb (the Python module)"
if [ "$mode" != check ]; then
  sizes "$deb" "$python_deb"
  exit 0
fi

# --check: the package as a user installs it, on this machine, left as it was.
if [ "$(id -u)" -ne 0 ] || ! command -v apt-get >/dev/null 2>&1; then
  echo "tools/package.sh --check installs the package: run it as root on Debian" >&2
  exit 1
fi
installed() {  # whether dpkg has the package ${1:-toneprint} on the machine
  local status
  status=$(dpkg-query -W -f='${db:Status-Status}' "${1:-toneprint}" 2>/dev/null) || return 1
  [ "$status" != not-installed ] && [ "$status" != config-files ]
}
for package in toneprint python3-toneprint; do
  if installed "$package"; then
    echo "$package is installed already; --check would replace and then remove it." >&2
    echo "Remove it first: apt-get remove $package" >&2
    exit 1
  fi
done
require_debian_packages man-db vamp-examples python3-numpy python3-pytest python3-matplotlib python3-venv \
  chromium nodejs
[ "$(dpkg-deb -f "$deb" Version)" = "$version" ] ||
  { echo "$deb has version $(dpkg-deb -f "$deb" Version), CMakeLists.txt $version" >&2; exit 1; }

scratch=$(mktemp -d)
remove_package() {
  local package
  for package in python3-toneprint toneprint; do
    if installed "$package"; then
      DEBIAN_FRONTEND=noninteractive apt-get purge -y -q "$package" >/dev/null
    fi
  done
  rm -rf "$scratch"
}
trap remove_package EXIT
DEBIAN_FRONTEND=noninteractive apt-get install -y -q "./$deb" "./$python_deb"
# What the packages put on the machine, to check after their removal.
installed_files=$build/installed-files.txt
dpkg -L toneprint python3-toneprint | grep -vx '/\.' | sort -u >"$installed_files"

failed=0
check() {  # check WHAT COMMAND...: runs the command, says whether it passed
  local what=$1
  shift
  if "$@"; then echo "ok: $what"; else echo "FAILED: $what" >&2; failed=1; fi
}
batch_report() {
  /usr/bin/toneprint-batch -f classic demo/demo.wav >"$scratch/batch.txt" &&
    diff -u demo/expected-report.txt "$scratch/batch.txt"
}
interactive_report() {
  # The answers a user types: recording, report, no settings, Enter. On the
  # console even in a graphical session. The installed program's report is
  # the expected one and the one of the program just built from the source.
  local program
  for program in /usr/bin/toneprint "$build/toneprint"; do
    rm -f "$scratch/report.txt"
    printf '%s\n' demo/demo.wav "$scratch/report.txt" no "" |
      env -u DISPLAY -u WAYLAND_DISPLAY "$program" >/dev/null || return 1
    cp "$scratch/report.txt" "$scratch/report-$(basename "$(dirname "$program")").txt"
  done
  diff -u demo/expected-report.txt "$scratch/report-bin.txt" &&
    diff -u "$scratch/report-package.txt" "$scratch/report-bin.txt"
}
batch_formats() {
  # Each format non-empty and well-formed: the CSV's rows as long as its
  # header, the JSON parsed, the HTML's elements closed in order.
  local format
  for format in csv json classic html; do
    /usr/bin/toneprint-batch -q -f "$format" -o "$scratch/demo.$format" demo/demo.wav || return 1
    [ -s "$scratch/demo.$format" ] || { echo "  -f $format wrote nothing"; return 1; }
  done
  /usr/bin/python3 - "$scratch/demo" <<'PYTHON'
import csv, html.parser, json, sys
stem = sys.argv[1]
with open(stem + ".csv", newline="") as f:
    rows = list(csv.reader(f))
assert len(rows) > 1 and all(len(row) == len(rows[0]) for row in rows), "CSV rows"
with open(stem + ".json") as f:
    assert json.load(f)["recordings"], "JSON without recordings"
VOID = {"area", "base", "br", "col", "embed", "hr", "img", "input", "link", "meta", "source",
        "track", "wbr"}
class Checker(html.parser.HTMLParser):
    def __init__(self):
        super().__init__()
        self.open, self.seen = [], set()
    def handle_starttag(self, tag, attrs):
        self.seen.add(tag)
        if tag not in VOID:
            self.open.append(tag)
    def handle_startendtag(self, tag, attrs):
        self.seen.add(tag)
    def handle_endtag(self, tag):
        assert self.open and self.open[-1] == tag, f"</{tag}> closes {self.open[-1:]}"
        self.open.pop()
checker = Checker()
with open(stem + ".html") as f:
    checker.feed(f.read())
checker.close()
assert not checker.open, f"unclosed {checker.open}"
assert {"html", "head", "body", "svg", "table"} <= checker.seen, checker.seen
print("  csv, json, classic and html are well-formed")
PYTHON
}
version_shown() {
  local shown
  shown=$(/usr/bin/toneprint-batch --version | head -n 1)
  echo "  $shown"
  [ "$shown" = "toneprint-batch $version" ] &&
    head -n 1 /usr/share/man/man1/toneprint-batch.1 | grep -qF "\"toneprint $version\"" &&
    head -n 1 /usr/share/man/man1/toneprint.1 | grep -qF "\"toneprint $version\""
}
manual_found() {
  local page
  page=$(man -w toneprint-batch) && echo "  $page" &&
    [ "$page" = /usr/share/man/man1/toneprint-batch.1 ] &&
    [ "$(man -w toneprint)" = /usr/share/man/man1/toneprint.1 ] || return 1
  # Rendered without an error, with its options; groff's warnings that a
  # long line could not be justified are typography, not faults.
  MANPAGER=cat MANWIDTH=80 man toneprint-batch >"$scratch/man.txt" 2>"$scratch/man-errors.txt" &&
    ! grep -v 'cannot adjust line' "$scratch/man-errors.txt" &&
    grep -q -- '--min-tone' "$scratch/man.txt" && grep -q '^DESCRIPTION' "$scratch/man.txt"
}
licences_installed() {
  local folder file
  for folder in /usr/share/doc/toneprint /usr/share/doc/python3-toneprint; do
    for file in LICENSE copyright CHANGELOG.md licences.md; do
      [ -s "$folder/$file" ] || { echo "  no $folder/$file"; return 1; }
    done
    cmp LICENSE "$folder/LICENSE" || return 1
  done
  grep -qx "Format: https://www.debian.org/doc/packaging-manuals/copyright-format/1.0/" \
    /usr/share/doc/toneprint/copyright
}
page_installed() {
  [ -f /usr/share/toneprint/web/index.html ] &&
    TONEPRINT_PAGE=/usr/share/toneprint/web/index.html NODE_PATH="$PWD/build/web-test/node_modules" \
      node tests/web/page_test.cjs
}
plugin_runs() {
  # Hosts find the plugin in /usr/lib/vamp without being told; it gives the
  # notes the installed program gives. The list goes to a file first: grep
  # -q would end a pipe early, and the host would then fail on writing.
  env -u VAMP_PATH vamp-simple-host --list >"$scratch/plugins.txt" || return 1
  grep -q '"tones" \[toneprint\]' "$scratch/plugins.txt" || return 1
  env -u VAMP_PATH vamp-simple-host toneprint:tones:tones demo/demo.wav 2>/dev/null |
    sed -n 's/^ [0-9.]*, [0-9.]*: [0-9.]* \([A-G]#*-*[0-9]*\) .*/\1/p' >"$scratch/plugin-notes.txt"
  /usr/bin/toneprint-batch demo/demo.wav | tail -n +2 | cut -d, -f8 >"$scratch/batch-notes.txt"
  echo "  notes:" $(cat "$scratch/plugin-notes.txt")
  [ -s "$scratch/plugin-notes.txt" ] && diff -u "$scratch/batch-notes.txt" "$scratch/plugin-notes.txt"
}
module_runs() {
  # Nothing of the build folder on the path: the module in dist-packages.
  env -u PYTHONPATH /usr/bin/python3 -c '
import sys, toneprint
assert toneprint.__file__.startswith("/usr/lib/python3/dist-packages/"), toneprint.__file__
assert toneprint.__version__ == sys.argv[1], toneprint.__version__
print("\n".join(tone.note for tone in toneprint.analyse_file("demo/demo.wav")))
' "$version" >"$scratch/module-notes.txt" || return 1
  /usr/bin/toneprint-batch demo/demo.wav | tail -n +2 | cut -d, -f8 >"$scratch/batch-notes.txt"
  echo "  notes:" $(cat "$scratch/module-notes.txt")
  diff -u "$scratch/batch-notes.txt" "$scratch/module-notes.txt"
}
readme_example() {
  env -u PYTHONPATH TONEPRINT_SOURCE_DIR="$PWD" /usr/bin/python3 -m pytest -q -p no:cacheprovider \
    tests/python/test_readme_example.py
}
pip_install() {
  # From a copy of the sources, as a user has them; pip builds the module
  # with CMake, without reaching the network.
  git ls-files -z | tar --null -T - -cf - | (mkdir "$scratch/source" && tar -xf - -C "$scratch/source") &&
    /usr/bin/python3 -m venv --system-site-packages "$scratch/venv" &&
    (cd "$scratch/source" &&
      "$scratch/venv/bin/pip" install -q --no-build-isolation --no-index . >"$scratch/pip.txt" 2>&1) ||
    { tail -n 20 "$scratch/pip.txt"; return 1; }
  (cd "$scratch" && env -u PYTHONPATH "$scratch/venv/bin/python" -c '
import toneprint
assert "/venv/" in toneprint.__file__, toneprint.__file__') &&
    env -u PYTHONPATH TONEPRINT_SOURCE_DIR="$PWD" "$scratch/venv/bin/python" -m pytest -q \
      -p no:cacheprovider tests/python/test_readme_example.py
}
check "/usr/bin/toneprint-batch -f classic demo/demo.wav matches demo/expected-report.txt" batch_report
check "/usr/bin/toneprint's report of the demo matches demo/expected-report.txt and the source build's" \
  interactive_report
check "/usr/bin/toneprint-batch writes csv, json, classic and html, each well-formed" batch_formats
check "toneprint-batch --version and both pages' title lines show $version, the version in CMakeLists.txt" version_shown
check "man -w finds both pages in /usr/share/man/man1, and man renders toneprint-batch's" manual_found
check "both packages' doc folders hold LICENSE, copyright, CHANGELOG.md and licences.md" licences_installed
check "vamp-simple-host finds /usr/lib/vamp/toneprint.so and gives the demo's notes" plugin_runs
check "Debian's python3 imports the installed module and gets the demo's notes" module_runs
check "the README's Python example runs as shown with the installed module" readme_example
check "pip install --no-build-isolation . into a virtual environment, offline, runs the example" pip_install
check "the installed page passes the browser test" page_installed

remove_package
trap - EXIT
for package in toneprint python3-toneprint; do
  if installed "$package"; then
    echo "FAILED: $package is still installed after apt-get remove" >&2
    failed=1
  fi
done
# Every file the packages installed is gone; a folder stays only where
# another package owns it too.
left=0
while IFS= read -r path; do
  if [ -d "$path" ] && [ ! -L "$path" ]; then
    dpkg -S "$path" >/dev/null 2>&1 && continue
  elif [ ! -e "$path" ] && [ ! -L "$path" ]; then
    continue
  fi
  echo "FAILED: $path is left after apt-get purge" >&2
  left=$((left + 1))
done <"$installed_files"
[ "$left" -eq 0 ] || failed=1
[ "$failed" -eq 0 ] || exit 1
echo "The installed packages passed their checks and were purged, leaving none of their" \
  "$(wc -l <"$installed_files") paths."
sizes "$deb" "$python_deb"
