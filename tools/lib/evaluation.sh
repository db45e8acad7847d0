# Sourced by the evaluation scripts (tools/evaluate*.sh), after
# tools/lib/debian_packages.sh, for what they all begin with.
#
# evaluation_arguments SCRIPT DEFAULT_OUT [--quick] -- ARGUMENT...
#   reads --batch PATH, --out DIR and (when named before --) --quick; sets
#   batch (empty unless given), out (DEFAULT_OUT unless given) and quick
#   (an array, (--quick) or empty). A path given is made absolute, since the
#   script then moves to the repository's root.
# evaluation_batch PACKAGE...
#   requires the packages (and what a build needs when no --batch was
#   given), then builds toneprint-batch in build/evaluate-build unless one
#   was given; sets batch to the binary.
evaluation_arguments() {
  local script=$1 quick_allowed=""
  out=$2 batch="" quick=()
  shift 2
  if [ "${1:-}" = --quick ]; then quick_allowed=yes; shift; fi
  [ "${1:-}" = -- ] && shift
  local usage="usage: tools/$script${quick_allowed:+ [--quick]} [--batch PATH] [--out DIR]"
  while [ $# -gt 0 ]; do
    case "$1" in
      --quick) [ -n "$quick_allowed" ] || { echo "$usage" >&2; exit 2; }; quick=(--quick) ;;
      --batch) [ $# -ge 2 ] || { echo "$usage" >&2; exit 2; }; batch=$(realpath -m -- "$2"); shift ;;
      --out) [ $# -ge 2 ] || { echo "$usage" >&2; exit 2; }; out=$(realpath -m -- "$2"); shift ;;
      *) echo "$usage" >&2; exit 2 ;;
    esac
    shift
  done
  if [ -n "$batch" ] && [ ! -x "$batch" ]; then
    echo "tools/$script: --batch $batch is not an executable file" >&2
    exit 2
  fi
}

evaluation_batch() {
  local packages=("$@")
  [ -n "$batch" ] || packages+=(cmake make g++ libsleef-dev libcli11-dev nlohmann-json3-dev libsndfile1-dev)
  require_debian_packages "${packages[@]}"
  [ -z "$batch" ] || return 0
  cmake -S . -B build/evaluate-build -DCMAKE_BUILD_TYPE=Release -DTONEPRINT_BUILD_TESTS=OFF >/dev/null
  cmake --build build/evaluate-build --target toneprint-batch --parallel 2 >/dev/null
  batch=$PWD/build/evaluate-build/toneprint-batch
}

# The sound font file that a Debian package installs.
soundfont_file() { dpkg -L "$1" | grep -m1 -E '\.sf[23]$'; }
