#!/usr/bin/env bash
# Builds the packages that install toneprint for people who do not build it.
#
#   tools/package.sh            Release build in build/package and its Debian
#                               package, build/package/toneprint_VERSION_ARCH.deb
#   tools/package.sh --check    the same, then (as root on Debian) installs the
#                               package with apt-get, runs the installed programs
#                               and the Vamp plugin on the demo recording, checks
#                               their version and manual page, and removes the
#                               package again
#   tools/package.sh --windows  MinGW-w64 Release builds in build/package-windows-*
#                               and their zips, toneprint-VERSION-win64.zip and
#                               -win32.zip; the 64-bit one's toneprint-batch.exe
#                               analyses the demo under wine64, unpacked
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
  unzip -q "$zip" -d "$folder"
  for file in toneprint.exe toneprint-batch.exe README.txt manual/toneprint.txt \
              manual/toneprint-batch.txt; do
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
  shown=$("$wine" "$folder/toneprint-batch.exe" --version | tr -d '\r' | head -n 1)
  [ "$shown" = "toneprint-batch $version" ] ||
    { echo "toneprint-batch.exe --version says \"$shown\", not toneprint-batch $version" >&2; exit 1; }
  echo
  unzip -l "$zip"
  unzip -l build/package-windows-i686/toneprint-"$version"-win32.zip | tail -n 1
  echo "Windows zips: build/package-windows-x86_64/toneprint-$version-win64.zip and" \
    "build/package-windows-i686/toneprint-$version-win32.zip; the 64-bit one's demo report matches."
  exit 0
fi

# dpkg-shlibdeps (dpkg-dev) names the libraries the package depends on;
# cpack finds the programs among the files with file.
require_debian_packages cmake make g++ libsleef-dev libcli11-dev nlohmann-json3-dev libsndfile1-dev \
  vamp-plugin-sdk dpkg-dev file
build=build/package
cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=Release -DTONEPRINT_BUILD_TESTS=OFF >/dev/null
cmake --build "$build" --parallel "$jobs" >/dev/null
rm -f "$build"/toneprint_*.deb
(cd "$build" && cpack -G DEB >/dev/null)
deb=$build/toneprint_${version}_$(dpkg --print-architecture).deb
[ -f "$deb" ] || { echo "cpack made no $deb" >&2; exit 1; }
dpkg-deb -I "$deb"
dpkg-deb -c "$deb"
echo "The Debian package: $deb"
[ "$mode" = check ] || exit 0

# --check: the package as a user installs it, on this machine, left as it was.
if [ "$(id -u)" -ne 0 ] || ! command -v apt-get >/dev/null 2>&1; then
  echo "tools/package.sh --check installs the package: run it as root on Debian" >&2
  exit 1
fi
installed() {  # whether dpkg has the package toneprint on the machine
  local status
  status=$(dpkg-query -W -f='${db:Status-Status}' toneprint 2>/dev/null) || return 1
  [ "$status" != not-installed ] && [ "$status" != config-files ]
}
if installed; then
  echo "toneprint is installed already; --check would replace and then remove it." >&2
  echo "Remove it first: apt-get remove toneprint" >&2
  exit 1
fi
require_debian_packages man-db vamp-examples
[ "$(dpkg-deb -f "$deb" Version)" = "$version" ] ||
  { echo "$deb has version $(dpkg-deb -f "$deb" Version), CMakeLists.txt $version" >&2; exit 1; }

scratch=$(mktemp -d)
remove_package() {
  if installed; then
    DEBIAN_FRONTEND=noninteractive apt-get remove -y -q toneprint >/dev/null
  fi
  rm -rf "$scratch"
}
trap remove_package EXIT
DEBIAN_FRONTEND=noninteractive apt-get install -y -q "./$deb"

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
  # console even in a graphical session.
  printf '%s\n' demo/demo.wav "$scratch/report.txt" no "" |
    env -u DISPLAY -u WAYLAND_DISPLAY /usr/bin/toneprint >/dev/null &&
    diff -u demo/expected-report.txt "$scratch/report.txt"
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
    [ "$(man -w toneprint)" = /usr/share/man/man1/toneprint.1 ] &&
    [ -f /usr/share/doc/toneprint/copyright ]
}
plugin_runs() {
  # Hosts find the plugin in /usr/lib/vamp without being told; it gives the
  # notes the installed program gives.
  env -u VAMP_PATH vamp-simple-host --list | grep -q '"tones" \[toneprint\]' || return 1
  env -u VAMP_PATH vamp-simple-host toneprint:tones:tones demo/demo.wav 2>/dev/null |
    sed -n 's/^ [0-9.]*, [0-9.]*: [0-9.]* \([A-G]#*-*[0-9]*\) .*/\1/p' >"$scratch/plugin-notes.txt"
  /usr/bin/toneprint-batch demo/demo.wav | tail -n +2 | cut -d, -f8 >"$scratch/batch-notes.txt"
  echo "  notes:" $(cat "$scratch/plugin-notes.txt")
  [ -s "$scratch/plugin-notes.txt" ] && diff -u "$scratch/batch-notes.txt" "$scratch/plugin-notes.txt"
}
check "/usr/bin/toneprint-batch -f classic demo/demo.wav matches demo/expected-report.txt" batch_report
check "/usr/bin/toneprint's report of the demo matches demo/expected-report.txt" interactive_report
check "toneprint-batch --version and both pages' title lines show $version, the version in CMakeLists.txt" version_shown
check "man -w finds both pages in /usr/share/man/man1; the copyright file is there" manual_found
check "vamp-simple-host finds /usr/lib/vamp/toneprint.so and gives the demo's notes" plugin_runs

remove_package
trap - EXIT
if installed; then
  echo "FAILED: toneprint is still installed after apt-get remove" >&2
  failed=1
fi
for file in /usr/bin/toneprint-batch /usr/lib/vamp/toneprint.so; do
  if [ -e "$file" ]; then
    echo "FAILED: $file is left after apt-get remove" >&2
    failed=1
  fi
done
[ "$failed" -eq 0 ] || exit 1
echo "The installed package passed its checks and was removed again."
