#!/usr/bin/env bash
# Static analysis of src/: the front-ends' includes, cppcheck (warnings,
# style, performance, portability) and clang-tidy with the checks listed in
# .clang-tidy. Any finding fails the run.
#
#   tools/lint.sh
set -euo pipefail
cd "$(dirname "$0")/.."
. tools/lib/debian_packages.sh

# The front-ends build on the public header, src/toneprint/toneprint.h: the
# analysis's, the readers' and the FFT's own headers stay out of them.
if grep -nE '^[[:space:]]*#[[:space:]]*include[[:space:]]*"(analysis|readers|riff|dsp)/' \
    src/batch/* src/vamp/* src/python/* src/html/*; then
  echo "the front-ends above include internals; include toneprint/toneprint.h instead" >&2
  exit 1
fi

require_debian_packages cmake make clang clang-tidy cppcheck

# unusedStructMember misreads the members of records that are only read
# through constant tables.
cppcheck --enable=warning,style,performance,portability --std=c++20 --language=c++ \
  -I src --quiet --inline-suppr --suppress=unusedStructMember --error-exitcode=1 src

cmake -S . -B build/tidy -DCMAKE_EXPORT_COMPILE_COMMANDS=ON -DCMAKE_CXX_COMPILER=clang++ \
  -DTONEPRINT_BUILD_TESTS=OFF >/dev/null
run-clang-tidy -quiet -p build/tidy 'src/.*\.cpp' >build/tidy/findings.txt 2>&1 || {
  grep -E "warning:|error:" build/tidy/findings.txt || cat build/tidy/findings.txt
  echo "clang-tidy found the above" >&2
  exit 1
}
echo "cppcheck and clang-tidy: no findings"
