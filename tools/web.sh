#!/usr/bin/env bash
# The page: toneprint-batch's analysis compiled to WebAssembly, in a folder
# that works opened from the disk, offline.
#
#   tools/web.sh           builds build/web/ (index.html and its scripts)
#   tools/web.sh --serve   builds it and serves it on http://localhost:8000
#   tools/web.sh --test    builds it and runs the browser test (tests/web/)
#   tools/web.sh --screenshot OUT.png
#                          builds it and photographs it with the demo's results
#
# Missing Debian packages are installed when run as root; otherwise the
# script names them and stops.
set -euo pipefail
cd "$(dirname "$0")/.."
. tools/lib/debian_packages.sh

mode=build
case "${1-}" in
  "") ;;
  --serve) mode=serve ;;
  --test) mode=test ;;
  --screenshot) mode=screenshot; shot=${2:?usage: tools/web.sh --screenshot OUT.png} ;;
  *) echo "usage: tools/web.sh [--serve|--test|--screenshot OUT.png]" >&2; exit 2 ;;
esac

packages=(emscripten cmake make libcli11-dev nlohmann-json3-dev nodejs python3)
browser=no
[ "$mode" = test ] || [ "$mode" = screenshot ] && browser=yes
[ "$mode" = test ] && packages+=(g++ libsndfile1-dev sox)
[ "$browser" = yes ] && packages+=(chromium)
# Debian's npm only where no npm came with the machine's Node.js: the two
# cannot be installed together.
[ "$browser" = yes ] && ! command -v npm >/dev/null 2>&1 && packages+=(npm)
require_debian_packages "${packages[@]}"

# Emscripten's tools need Debian's node modules (acorn), which a Node.js
# other than Debian's does not look for.
export NODE_PATH=/usr/share/nodejs${NODE_PATH:+:$NODE_PATH}
launcher=()
command -v ccache >/dev/null 2>&1 &&
  launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache -DCMAKE_C_COMPILER_LAUNCHER=ccache)

# WebAssembly's own exceptions (the option parser throws) cost nothing
# where none is thrown; SIMD lets the compiler use 128-bit vectors, which
# leave the results as they are (no fused or reordered arithmetic).
emcmake cmake -S . -B build/web-cmake -DCMAKE_BUILD_TYPE=Release -DTONEPRINT_WERROR=ON \
  -DTONEPRINT_BUILD_TESTS=OFF -DTONEPRINT_USE_SLEEF=OFF -DTONEPRINT_USE_SNDFILE=OFF \
  -DTONEPRINT_BUILD_VAMP=OFF -DTONEPRINT_BUILD_PYTHON=OFF \
  "-DCMAKE_CXX_FLAGS=-fwasm-exceptions -msimd128" -DCMAKE_EXE_LINKER_FLAGS=-fwasm-exceptions \
  "${launcher[@]}" >/dev/null
cmake --build build/web-cmake --target toneprint_web --parallel "$(nproc 2>/dev/null || echo 2)"

rm -rf build/web
mkdir -p build/web
cp web/index.html web/style.css web/page.js build/web/
# A Worker cannot be started from a file:// URL, so the page holds the
# worker's script (the module, then web/worker.js) as text and starts it
# from a Blob.
node -e '
  const fs = require("fs");
  const [module, worker, out] = process.argv.slice(1);
  const text = fs.readFileSync(module, "utf8") + "\n" + fs.readFileSync(worker, "utf8");
  fs.writeFileSync(out, "window.toneprintWorkerSource = " + JSON.stringify(text) + ";\n");
' build/web-cmake/web/toneprint.js web/worker.js build/web/worker-source.js
echo "build/web: $(du -sh build/web | cut -f1)"

# puppeteer-core from the npm registry, driving Debian's Chromium.
if [ "$browser" = yes ] && [ ! -d build/web-test/node_modules/puppeteer-core ]; then
  mkdir -p build/web-test
  PUPPETEER_SKIP_DOWNLOAD=1 npm install --prefix build/web-test --no-audit --no-fund \
    puppeteer-core@24.6.1
fi

case "$mode" in
  serve)
    echo "Serving build/web on http://localhost:8000 (Ctrl-C stops)"
    exec python3 -m http.server 8000 --bind 127.0.0.1 --directory build/web
    ;;
  test)
    # The native program that the page must agree with.
    if [ ! -x build/release/toneprint-batch ]; then
      cmake -S . -B build/release -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTONEPRINT_WERROR=ON >/dev/null
      cmake --build build/release --target toneprint-batch --parallel "$(nproc 2>/dev/null || echo 2)"
    fi
    NODE_PATH=$PWD/build/web-test/node_modules node tests/web/page_test.cjs
    NODE_PATH=$PWD/build/web-test/node_modules node tests/web/record_test.cjs
    # Served over http, as from a static host, the page captures through its
    # AudioWorklet instead.
    python3 -m http.server 8731 --bind 127.0.0.1 --directory build/web >/dev/null 2>&1 &
    server=$!
    trap 'kill $server 2>/dev/null' EXIT
    for _ in $(seq 50); do
      python3 -c 'import urllib.request; urllib.request.urlopen("http://127.0.0.1:8731/")' 2>/dev/null && break
      sleep 0.1
    done
    TONEPRINT_PAGE_URL=http://127.0.0.1:8731/index.html NODE_PATH=$PWD/build/web-test/node_modules \
      node tests/web/record_test.cjs
    ;;
  screenshot)
    NODE_PATH=$PWD/build/web-test/node_modules node tools/web/screenshot.cjs "$shot"
    echo "$shot"
    ;;
esac
