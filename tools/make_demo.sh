#!/usr/bin/env bash
# Renders the demo recording demo/demo.wav from scratch: a clarinet playing
# the rising A major arpeggio A3, C#4, E4, A4, each note held 1.3 s with
# 0.8 s of silence between the notes.
#
#   tools/make_demo.sh
#
# Needs python3, fluidsynth, the FluidR3 General MIDI sound font and sox:
#
#   apt-get install fluidsynth fluid-soundfont-gm sox
#
# The script writes a small MIDI file, renders it with fluidsynth (reverb and
# chorus off, so the gaps stay silent), then uses sox to mix it to mono
# 16-bit 44100 Hz, normalise the loudest peak to -3 dBFS and trim the silence
# at both ends to a short bit. Another fluidsynth or sox version may give
# slightly different bytes. The build and the tests do not need this script:
# the recording is kept in the repository.
set -euo pipefail
cd "$(dirname "$0")/.."

soundfont=/usr/share/sounds/sf2/FluidR3_GM.sf2
output=demo/demo.wav

missing=()
command -v python3 >/dev/null 2>&1 || missing+=(python3)
command -v fluidsynth >/dev/null 2>&1 || missing+=(fluidsynth)
[ -f "$soundfont" ] || missing+=(fluid-soundfont-gm)
command -v sox >/dev/null 2>&1 || missing+=(sox)
if [ ${#missing[@]} -gt 0 ]; then
  echo "make_demo.sh needs these Debian packages, which are missing: ${missing[*]}" >&2
  echo "Install them with: sudo apt-get install ${missing[*]}" >&2
  exit 1
fi

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# The MIDI file: one track, 120 beats a minute at 480 ticks a beat, so one
# second is 960 ticks. General MIDI program 72 (71 counted from 0) is the
# clarinet.
python3 - "$work/demo.mid" <<'EOF'
import struct
import sys

TICKS_PER_SECOND = 960
PROGRAM = 71            # clarinet
NOTES = [57, 61, 64, 69]  # A3, C#4, E4, A4
LEAD = 0.25             # seconds before the first note
HOLD = 1.3              # seconds each note sounds
GAP = 0.8               # seconds from one note's end to the next note
TAIL = 1.0              # seconds left for the last note's release
VELOCITY = 100


def ticks(seconds):
    return round(seconds * TICKS_PER_SECOND)


def varlen(value):
    out = [value & 0x7F]
    value >>= 7
    while value:
        out.append(0x80 | (value & 0x7F))
        value >>= 7
    return bytes(reversed(out))


events = []  # (absolute tick, bytes)
events.append((0, bytes([0xFF, 0x51, 3]) + (500000).to_bytes(3, "big")))  # tempo
events.append((0, bytes([0xC0, PROGRAM])))
events.append((0, bytes([0xB0, 7, 100])))    # channel volume
events.append((0, bytes([0xB0, 11, 127])))   # expression
start = LEAD
for note in NOTES:
    events.append((ticks(start), bytes([0x90, note, VELOCITY])))
    events.append((ticks(start + HOLD), bytes([0x80, note, 0])))
    start += HOLD + GAP
end = start - GAP + TAIL
events.append((ticks(end), bytes([0xFF, 0x2F, 0])))  # end of track

track = b""
now = 0
for when, data in events:
    track += varlen(when - now) + data
    now = when

with open(sys.argv[1], "wb") as f:
    f.write(b"MThd" + struct.pack(">IHHH", 6, 0, 1, 480))
    f.write(b"MTrk" + struct.pack(">I", len(track)) + track)
EOF

# Render to raw 32-bit float stereo samples, so nothing clips before sox
# scales them.
fluidsynth -q -ni -R 0 -C 0 -g 0.5 -r 44100 -O float -T raw -E little \
  -F "$work/render.raw" "$soundfont" "$work/demo.mid"

# Mono, 16-bit signed, 44100 Hz; peak at -3 dBFS; silence before the first
# note cut to 0.1 s and after the last note to 0.2 s. No dither, so the gaps
# hold true zeros.
mkdir -p demo
sox -D -t raw -e floating-point -b 32 -c 2 -r 44100 -L "$work/render.raw" \
  -t wav -e signed-integer -b 16 -c 1 -r 44100 "$output" \
  remix - norm -3 \
  silence 1 0.001 -60d reverse silence 1 0.001 -60d reverse \
  pad 0.1 0.2

echo "Wrote $output"
