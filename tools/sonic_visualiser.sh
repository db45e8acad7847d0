#!/usr/bin/env bash
# Takes a screenshot of toneprint's Vamp plugin (toneprint:tones) at work in
# Sonic Visualiser on the demo recording, for the README:
#
#   tools/sonic_visualiser.sh [BUILD_DIR [OUT.png]]
#
# BUILD_DIR is the build folder whose vamp/ holds toneprint.so, .cat and .n3
# (build/release by default); OUT.png is where the picture goes
# (build/sonic-visualiser.png by default). Build first, e.g.
#
#   cmake --preset release && cmake --build build/release
#
# The script writes a Sonic Visualiser session from
# tools/sonic-visualiser/demo-session.sv.in and opens it in a 1280x800 window
# on a virtual X display (Xvfb), with a fresh home and settings under a
# temporary folder, so no earlier settings or first-run dialog get in. The
# session has three panes:
#   1. a spectrogram on a log frequency scale from 50 to 4000 Hz, with the
#      plugin's tones (notes layer, white) and passes (time values, red
#      stems up to each pass's fundamental, labelled with the last pass's
#      note) over it, both computed by Sonic Visualiser running the plugin;
#   2. the waveform with the tones as labelled regions ("A3 -1.1 c");
#   3. the harmonic levels of each tone, in dB relative to its fundamental,
#      as a colour 3D plot, bins h0 (bottom) to h10.
# Sonic Visualiser draws no labels on a notes layer and makes notes, not a
# grid, of the harmonics outputs, so the script also runs the plugin through
# vamp-simple-host and writes pane 2's regions and pane 3's grid into the
# session as data. It waits until Sonic Visualiser has run the plugin and
# the picture has stopped changing, saves the screen with ImageMagick's
# import and stops everything it started. It fails with a message, never
# hangs: each wait has a time limit.
#
# Missing Debian packages (sonic-visualiser xvfb xdotool imagemagick bzip2
# vamp-examples) are installed when run as root; otherwise the script names
# them and stops. SV_KEEP=1 keeps the temporary folder (the session, the
# plugin's outputs, Sonic Visualiser's log) and names it.
set -euo pipefail
cd "$(dirname "$0")/.."
. tools/lib/debian_packages.sh

me=tools/sonic_visualiser.sh
die() { echo "$me: $*" >&2; exit 1; }

if [ $# -gt 2 ] || [ "${1-}" = -h ] || [ "${1-}" = --help ]; then
  echo "usage: $me [BUILD_DIR [OUT.png]]" >&2
  exit 2
fi
build=${1:-build/release}
out=$(realpath -m "${2:-build/sonic-visualiser.png}")
audio=$(realpath demo/demo.wav)
template=tools/sonic-visualiser/demo-session.sv.in
plugin_dir=$(realpath -m "$build/vamp")
for f in toneprint.so toneprint.cat toneprint.n3; do
  [ -f "$plugin_dir/$f" ] || die "no $plugin_dir/$f: build toneprint first (cmake --build $build)"
done

require_debian_packages sonic-visualiser xvfb xdotool imagemagick bzip2 vamp-examples

# Window size; the virtual screen is the same, so the screen is the window.
width=1280
height=800

work=$(mktemp -d /tmp/toneprint-sonic-visualiser.XXXXXX)
xvfb_pid=
sv_pid=
cleanup() {
  # Sonic Visualiser runs in a process group of its own, with the plugin
  # servers it starts: end the whole group.
  if [ -n "$sv_pid" ]; then kill -- "-$sv_pid" 2>/dev/null || true; fi
  if [ -n "$xvfb_pid" ]; then kill "$xvfb_pid" 2>/dev/null || true; fi
  wait 2>/dev/null || true
  if [ -n "${SV_KEEP-}" ]; then echo "kept $work" >&2; else rm -rf "$work"; fi
}
trap cleanup EXIT
trap 'exit 130' INT TERM

# --- The plugin's outputs through vamp-simple-host, for panes 2 and 3 ------

vamp_path=$plugin_dir

run_output() {  # OUTPUT: the plugin's features, "frame,duration: values label"
  VAMP_PATH=$vamp_path timeout 60 vamp-simple-host -s "toneprint:tones:$1" "$audio" \
    -o "$work/$1.txt" >"$work/vamp-simple-host-$1.log" 2>&1 ||
    die "vamp-simple-host failed on toneprint:tones:$1: $(tail -3 "$work/vamp-simple-host-$1.log")"
  grep -E '^ *[0-9]+, *[0-9]+:' "$work/$1.txt" >"$work/$1.features" ||
    die "toneprint:tones:$1 gave no features with a duration on $audio"
}
run_output tones
run_output levels
# Sonic Visualiser needs the step and block sizes in the session (with 0 it
# stops on a division by zero): the plugin's preferred ones.
step=$(sed -n 's/^Using block size = [0-9]*, step size = \([0-9]*\)$/\1/p' "$work/vamp-simple-host-tones.log")
block=$(sed -n 's/^Using block size = \([0-9]*\), step size = [0-9]*$/\1/p' "$work/vamp-simple-host-tones.log")
if [ -z "$step" ] || [ -z "$block" ] || [ "$step" -eq 0 ] || [ "$block" -eq 0 ]; then
  die "vamp-simple-host did not tell the plugin's step and block sizes"
fi

# The recording's sample rate and length in frames, from its WAV chunks.
wav_u32() { od -An -tu4 -j "$2" -N4 "$1" | tr -d ' '; }
wav_u16() { od -An -tu2 -j "$2" -N2 "$1" | tr -d ' '; }
offset=12 rate='' frames='' block_align=''
while [ -z "$frames" ]; do
  id=$(dd if="$audio" bs=1 skip="$offset" count=4 2>/dev/null)
  size=$(wav_u32 "$audio" $((offset + 4)))
  [ -n "$size" ] || die "$audio: no data chunk"
  case $id in
    "fmt ") rate=$(wav_u32 "$audio" $((offset + 12)))
            block_align=$(wav_u16 "$audio" $((offset + 20))) ;;
    data)   if [ -z "$block_align" ] || [ "$block_align" -eq 0 ]; then
              die "$audio: no fmt chunk before the data"
            fi
            frames=$((size / block_align)) ;;
  esac
  offset=$((offset + 8 + size + size % 2))
done

# Session pieces: the tones as regions, and the levels as the rows of a grid
# whose columns are LEVEL_STEP frames (10 ms) wide. Each feature line is
# "FRAME,DURATION: VALUES LABEL"; the label may hold any character.
level_step=$((rate / 100))
# shellcheck disable=SC2016  # awk code, not shell
features='
  function feature() {
    if (!match($0, /^ *[0-9]+, *[0-9]+:/)) return 0
    split(substr($0, 1, RLENGTH - 1), t, ",")
    frame = t[1] + 0; dur = t[2] + 0
    rest = substr($0, RLENGTH + 1); sub(/^ +/, "", rest); sub(/ +$/, "", rest)
    return 1
  }'
awk -v dir="$work" "$features"'
  function esc(s) { gsub(/&/, "\\&amp;", s); gsub(/</, "\\&lt;", s); gsub(/>/, "\\&gt;", s); gsub(/"/, "\\&quot;", s); return s }
  feature() {
    value = ""; label = rest
    # A tone with no fundamental has a label only ("too short", "no pitch").
    if (match(rest, /^-?[0-9.]+(e[-+]?[0-9]+)?( |$)/)) {
      value = substr(rest, 1, RLENGTH) + 0; label = substr(rest, RLENGTH + 1)
      if (min == "" || value < min) min = value
      if (max == "" || value > max) max = value
    }
    n++; f[n] = frame; d[n] = dur; val[n] = value; lab[n] = esc(label)
  }
  END {
    if (min == "") { min = 0; max = 1 }
    for (i = 1; i <= n; i++)
      printf "    <point frame=\"%d\" value=\"%s\" duration=\"%d\" label=\"%s\"/>\n", f[i], (val[i] == "" ? min : val[i]), d[i], lab[i]
    print min > (dir "/tone-min"); print max > (dir "/tone-max")
  }' "$work/tones.features" >"$work/tone-points"

awk -v step="$level_step" -v frames="$frames" -v dir="$work" "$features"'
  feature() {
    nb = split(rest, v, " ")
    if (nb > bins) bins = nb
    for (k = 1; k <= nb; k++) if (v[k] !~ /nan/) {
      x = v[k] + 0; if (min == "" || x < min) min = x; if (max == "" || x > max) max = x
    }
    n++; start[n] = frame; stop[n] = frame + dur; row[n] = rest
  }
  END {
    if (min == "") { min = 0; max = 0 }
    for (k = 0; k < bins; k++) printf "    <bin number=\"%d\" name=\"h%d\"/>\n", k, k > (dir "/level-bins")
    columns = 0
    for (i = 1; i <= n; i++) {
      nb = split(row[i], v, " "); line = ""
      # A harmonic above half the sample rate has no level (NaN): drawn as the lowest.
      for (k = 1; k <= nb; k++) line = line (k > 1 ? " " : "") (v[k] ~ /nan/ ? min : v[k] + 0)
      for (c = int((start[i] + step - 1) / step); (c + 1) * step <= stop[i]; c++) { col[c] = line; columns++ }
    }
    # Columns between the tones: the lowest level, drawn dark like silence.
    gap = ""; for (k = 0; k < bins; k++) gap = gap (k > 0 ? " " : "") min
    for (c = 0; c * step < frames; c++)
      printf "    <row n=\"%d\">%s</row>\n", c, (c in col ? col[c] : gap) > (dir "/level-rows")
    print bins > (dir "/level-nbins"); print min > (dir "/level-min"); print max > (dir "/level-max")
    print columns > (dir "/level-columns")
  }' "$work/levels.features"
[ "$(cat "$work/level-columns")" -gt 0 ] ||
  die "toneprint:tones:levels gave no tone as long as $level_step frames"

fill() {  # NAME VALUE: replace @NAME@ in the session
  local value=${2//\\/\\\\}
  value=${value//&/\\&}
  value=${value//|/\\|}
  sed -i "s|@$1@|$value|g" "$work/session.xml"
}
insert() {  # NAME FILE: replace the line @NAME@ with the file's lines
  sed -i -e "/^@$1@\$/{r $2" -e 'd}' "$work/session.xml"
}
cp "$template" "$work/session.xml"
insert TONE_POINTS "$work/tone-points"
insert LEVEL_BIN_NAMES "$work/level-bins"
insert LEVEL_ROWS "$work/level-rows"
fill AUDIO "$(sed 's/&/\&amp;/g; s/</\&lt;/g; s/>/\&gt;/g; s/"/\&quot;/g' <<<"$audio")"
fill AUDIO_NAME "$(basename "$audio")"
fill RATE "$rate"
fill FRAMES "$frames"
fill TONE_MIN "$(cat "$work/tone-min")"
fill TONE_MAX "$(cat "$work/tone-max")"
fill STEP "$step"
fill BLOCK "$block"
fill LEVEL_STEP "$level_step"
fill LEVEL_BINS "$(cat "$work/level-nbins")"
fill LEVEL_MIN "$(cat "$work/level-min")"
fill LEVEL_MAX "$(cat "$work/level-max")"
# Zoom (frames a pixel) and centre for the panes once the property boxes are
# hidden, when a pane's centre is 627 pixels from the window's left: the
# recording from 127 pixels, past the vertical scales, to 977, leaving the
# right for the layers' legends.
zoom=$(((frames + 849) / 850))
fill ZOOM "$zoom"
fill CENTRE $((zoom * 500))
! grep -q '@[A-Z_]*@' "$work/session.xml" || die "left unfilled in the session: $(grep -o '@[A-Z_]*@' "$work/session.xml" | sort -u | tr '\n' ' ')"
bzip2 -c "$work/session.xml" >"$work/session.sv"

# --- Sonic Visualiser on a virtual display ---------------------------------

# Xvfb picks a free display itself and writes its number to fd 3 when ready.
Xvfb -displayfd 3 -screen 0 "${width}x${height}x24" -nolisten tcp \
  3>"$work/display" >"$work/xvfb.log" 2>&1 &
xvfb_pid=$!
for _ in $(seq 100); do
  [ -s "$work/display" ] && break
  kill -0 "$xvfb_pid" 2>/dev/null || die "Xvfb did not start: $(tail -3 "$work/xvfb.log")"
  sleep 0.1
done
[ -s "$work/display" ] || die "Xvfb gave no display number within 10 s"
DISPLAY=:$(head -1 "$work/display")
export DISPLAY

# A fresh home: the settings say no to the network (which also keeps the
# first-run welcome dialog away) and turn off the zoom wheels.
home=$work/home
config=$home/.config/sonic-visualiser
mkdir -p "$config" "$home/.local/share" "$home/.cache" "$work/run" "$work/none"
chmod 700 "$work/run"
version=$(timeout 20 sonic-visualiser --version 2>&1 </dev/null | head -1 || true)
[[ $version =~ ^[0-9][0-9.]*$ ]] || die "cannot tell Sonic Visualiser's version (sonic-visualiser --version said \"$version\")"
cat >"$config/Sonic Visualiser.conf" <<EOF
[MainWindow]
overlay-mode=3
zoom-wheels-enabled=false

[Preferences]
network-permission-$version=false
EOF

# setsid: a process group of its own, so that cleanup ends the plugin
# servers that Sonic Visualiser starts, too.
HOME=$home XDG_CONFIG_HOME=$home/.config XDG_DATA_HOME=$home/.local/share \
  XDG_CACHE_HOME=$home/.cache XDG_RUNTIME_DIR=$work/run \
  VAMP_PATH=$vamp_path LADSPA_PATH=$work/none DSSI_PATH=$work/none \
  setsid sonic-visualiser -geometry "${width}x${height}+0+0" "$work/session.sv" \
  >"$work/sv.log" 2>&1 </dev/null &
sv_pid=$!
sv_log="$home/.local/share/sonic-visualiser/Sonic Visualiser/log/sv-debug.log"

sv_alive() { kill -0 "$sv_pid" 2>/dev/null; }
fail_sv() {
  echo "$me: $*" >&2
  if import -window root "$work/failed.png" 2>/dev/null; then
    mkdir -p "$(dirname "$out")"
    cp "$work/failed.png" "${out%.png}-failed.png"
    echo "$me: the screen then: ${out%.png}-failed.png" >&2
  fi
  echo "--- the end of Sonic Visualiser's log:" >&2
  tail -15 "$sv_log" >&2 2>/dev/null || tail -15 "$work/sv.log" >&2
  exit 1
}
# Any window but the main one is a dialog: an error (a plugin that failed to
# load or run, a file not found) or a question. Fail with its title.
check_dialogs() {
  local w name
  for w in $(xdotool search --onlyvisible --name '.' 2>/dev/null || true); do
    name=$(xdotool getwindowname "$w" 2>/dev/null || true)
    case $name in
      "Sonic Visualiser: "*|"") ;;
      *) fail_sv "Sonic Visualiser shows a dialog, \"$name\"" ;;
    esac
  done
}

# Wait for the main window, then for both of the plugin's runs to end: Sonic
# Visualiser logs "deleting plugin for transform" when one has.
deadline=$((SECONDS + 60))
window=
until [ -n "$window" ]; do
  sv_alive || fail_sv "Sonic Visualiser exited early"
  [ $SECONDS -lt $deadline ] || fail_sv "no Sonic Visualiser window within 60 s"
  sleep 0.5
  window=$(xdotool search --onlyvisible --name '^Sonic Visualiser: ' 2>/dev/null | head -1 || true)
done
runs=$(grep -c '<derivation ' "$work/session.xml")
runs_ended() {
  local n
  n=$(grep -c 'deleting plugin for transform' "$sv_log" 2>/dev/null) || true
  echo "${n:-0}"
}
deadline=$((SECONDS + 120))
while [ "$(runs_ended)" -lt "$runs" ]; do
  sv_alive || fail_sv "Sonic Visualiser exited while running the plugin"
  check_dialogs
  [ $SECONDS -lt $deadline ] || fail_sv "the plugin's $runs runs did not end within 120 s"
  sleep 0.5
done
check_dialogs

# Hide the property boxes (View's key "x"), which take a quarter of the
# width. The panes keep the frame at their centre, as the session's zoom and
# centre expect.
timeout 10 xdotool windowfocus --sync "$window" key --clearmodifiers x ||
  fail_sv "could not type into Sonic Visualiser's window"
sleep 1

# The panes come out of equal height; drag the splitters between them so the
# spectrogram gets about half the height and the 11 rows of harmonics room
# for their names. A splitter is the 4-row band of the window's grey between
# two panes, found on the screen's middle column.
splitters() {
  import -window root "$work/screen.png"
  convert "$work/screen.png" -crop "1x$height+$((width / 2))+0" +repage txt:- |
    awk -F'[,: ]+' 'NR > 1 { grey = ($0 ~ /#(EFEFEF|F5F5F5)/) }
      NR > 1 && grey { if (!run) first = $2; run++ }
      NR > 1 && !grey { if (run == 4 && first > 80) print first + 2; run = 0 }'
}
drag() {  # FROM_Y TO_Y
  timeout 10 xdotool mousemove $((width / 2)) "$1" mousedown 1 \
    mousemove $((width / 2)) $(( ($1 + $2) / 2 )) sleep 0.2 \
    mousemove $((width / 2)) "$2" sleep 0.2 mouseup 1 mousemove $((width / 2)) 5 ||
    fail_sv "could not drag a splitter"
  sleep 0.5
}
mapfile -t at < <(splitters)
# Where the property boxes were, the spectrogram's dark background now.
light=$(convert "$work/screen.png" -crop "1x1+$((width - 150))+120" +repage -depth 8 \
  -colorspace Gray -format '%[fx:round(255*u)]' info:)
[ "$light" -lt 128 ] || echo "$me: warning: the property boxes are still shown" >&2
if [ ${#at[@]} -eq 2 ]; then
  drag "${at[1]}" 550
  drag "${at[0]}" 390
  mapfile -t at < <(splitters)
fi
near() { [ "$1" -ge $(($2 - 3)) ] && [ "$1" -le $(($2 + 3)) ]; }
if [ ${#at[@]} -ne 2 ] || ! near "${at[0]}" 390 || ! near "${at[1]}" 550; then
  echo "$me: warning: could not resize the panes (splitters at: ${at[*]:-none}); they keep equal heights" >&2
fi
check_dialogs

# Then wait until two screenshots a second apart are the same, as the
# spectrogram is drawn in steps.
deadline=$((SECONDS + 60))
previous=
while :; do
  sleep 1
  sv_alive || fail_sv "Sonic Visualiser exited while drawing"
  import -window root "$work/screen.png"
  current=$(md5sum <"$work/screen.png")
  [ "$current" = "$previous" ] && break
  previous=$current
  [ $SECONDS -lt $deadline ] || fail_sv "the picture kept changing for 60 s"
done
check_dialogs

mkdir -p "$(dirname "$out")"
# Without the status bar at the bottom, whose "Visible:" line is stale. A
# palette of 256 colours, undithered, keeps the picture small and the text
# sharp.
convert "$work/screen.png" -crop "${width}x$((height - 26))+0+0" +repage \
  -strip +dither -colors 256 "PNG8:$out"
echo "$out"
