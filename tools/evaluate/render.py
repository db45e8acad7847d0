#!/usr/bin/env python3
"""Renders the evaluation's notes: one General MIDI note per WAVE file, from
each sound font, in three variants (plain, quiet, noisy), and writes the
manifest. Standard library only.

  render.py OUT [--quick] [--instrument NAME]... [--by-font] [--jobs N]
            [--gain G] NAME=SOUNDFONT...

Every note is 0.5 s of silence, the note held 1.5 s at velocity 100, its
release, then 1.5 s of silence, rendered by fluidsynth (reverb and chorus
off) as 16-bit stereo at 44100 Hz. `quiet` is the same samples 30 dB lower;
`noisy` adds white noise whose RMS is 50 dB below the plain note's peak,
from a seed drawn from the file's name. Notes already rendered with the same
settings are kept. --instrument renders only the instruments named (as in
INSTRUMENTS); --by-font puts each sound font's notes in a folder of its own
in each variant (OUT/plain/NAME/...), so that each can be taken as a set.
"""
import argparse
import array
import csv
import math
import os
import random
import shutil
import subprocess
import sys
import tempfile
import wave
import zlib
from multiprocessing import Pool

RATE = 44100
LEAD, HOLD, TAIL = 0.5, 1.5, 1.5  # seconds: silence, note held, silence after the release
RENDER_TAIL = 3.0                 # seconds rendered after the note-off, for the release
VELOCITY = 100
QUIET_DB, NOISE_DB = -30.0, -50.0
NOTES_PER_INSTRUMENT = 7

# Instrument, General MIDI program (counted from 1), lowest and highest MIDI
# note of its usual range (sounding pitch).
INSTRUMENTS = [
    ("piano", 1, 28, 96), ("electric piano", 5, 36, 91),
    ("nylon guitar", 25, 40, 83), ("steel guitar", 26, 40, 84),
    ("clean electric guitar", 28, 40, 86),
    ("vibraphone", 12, 53, 89), ("marimba", 13, 45, 96), ("xylophone", 14, 65, 105),
    ("violin", 41, 55, 96), ("viola", 42, 48, 84), ("cello", 43, 36, 76),
    ("contrabass", 44, 28, 55),
    ("church organ", 20, 36, 96), ("reed organ", 21, 41, 89),
    ("oboe", 69, 58, 91), ("clarinet", 72, 50, 91), ("bassoon", 71, 34, 72),
    ("alto sax", 66, 49, 80),
    ("trumpet", 57, 54, 82), ("trombone", 58, 40, 72), ("french horn", 61, 41, 77),
    ("flute", 74, 60, 96), ("choir aahs", 53, 48, 79), ("voice oohs", 54, 48, 79),
]
QUICK = {"piano", "violin", "clarinet", "choir aahs"}
NAMES = ["C", "C#", "D", "D#", "E", "F", "F#", "G", "G#", "A", "A#", "B"]


def note_name(note):
    return f"{NAMES[note % 12]}{note // 12 - 1}"


def nominal_hz(note):
    return 440.0 * 2.0 ** ((note - 69) / 12.0)


def spread(low, high, count=NOTES_PER_INSTRUMENT):
    return sorted({round(low + i * (high - low) / (count - 1)) for i in range(count)})


def varlen(value):
    """A MIDI variable-length quantity."""
    out = [value & 0x7F]
    while value > 0x7F:
        value >>= 7
        out.append(0x80 | (value & 0x7F))
    return bytes(reversed(out))


def midi_file(program, note, hold=HOLD):
    """A one-track MIDI file: program change, one note held `hold` seconds,
    end of track."""
    per_second = 960  # 480 ticks a beat at 120 beats a minute

    events = [(0, b"\xff\x51\x03" + (500000).to_bytes(3, "big")),
              (0, bytes([0xC0, program - 1])),
              (LEAD, bytes([0x90, note, VELOCITY])),
              (LEAD + hold, bytes([0x80, note, 0])),
              (LEAD + hold + RENDER_TAIL, b"\xff\x2f\x00")]
    track, now = b"", 0
    for seconds, data in events:
        tick = round(seconds * per_second)
        track += varlen(tick - now) + data
        now = tick
    return (b"MThd" + (6).to_bytes(4, "big") + bytes([0, 0, 0, 1, 1, 0xE0]) +
            b"MTrk" + len(track).to_bytes(4, "big") + track)


def read_wav(path):
    with wave.open(path, "rb") as w:
        if w.getsampwidth() != 2 or w.getframerate() != RATE:
            raise ValueError(f"{path}: expected 16-bit samples at {RATE} Hz")
        samples = array.array("h", w.readframes(w.getnframes()))
        channels = w.getnchannels()
    if sys.byteorder == "big":
        samples.byteswap()
    return samples, channels


def write_wav(path, samples, channels):
    data = array.array("h", samples)
    if sys.byteorder == "big":
        data.byteswap()
    with wave.open(path + ".part", "wb") as w:
        w.setnchannels(channels)
        w.setsampwidth(2)
        w.setframerate(RATE)
        w.writeframes(data.tobytes())
    os.replace(path + ".part", path)


def synthesise(sf_path, midi, gain, name):
    """Renders a MIDI file with fluidsynth; returns its samples, cut (or
    padded) to TAIL seconds after the release has died away, and the number
    of channels."""
    with tempfile.TemporaryDirectory() as tmp:
        raw = os.path.join(tmp, "render.wav")
        run = subprocess.run(
            ["fluidsynth", "-q", "-n", "-i", "-R", "0", "-C", "0", "-g", str(gain),
             "-r", str(RATE), "-T", "wav", "-O", "s16",
             "-o", "synth.dynamic-sample-loading=1", "-F", raw, sf_path, midi],
            stdin=subprocess.DEVNULL, capture_output=True, text=True)
        if run.returncode != 0 or not os.path.exists(raw):
            raise RuntimeError(f"fluidsynth failed on {name}: {run.stderr.strip()}")
        samples, channels = read_wav(raw)
    last = next((i for i in range(len(samples) - 1, -1, -1) if samples[i]), -1)
    if last < 0:
        raise RuntimeError(f"fluidsynth rendered only silence for {name}")
    if last >= len(samples) - channels:
        print(f"{name}: the release lasts longer than the render; cut short", file=sys.stderr)
    end = (last // channels + 1 + round(TAIL * RATE)) * channels
    return samples[:end] + array.array("h", bytes(2 * max(0, end - len(samples)))), channels


def render(job):
    """Renders one note and its variants unless they exist; returns its peak
    and its clipped samples."""
    out, sf_name, sf_path, gain, name, program, note, folder = job
    paths = {v: os.path.join(out, v, folder, name + ".wav") for v in ("plain", "quiet", "noisy")}
    if all(os.path.exists(p) for p in paths.values()):
        samples, _ = read_wav(paths["plain"])
        return max(map(abs, samples)), samples.count(32767) + samples.count(-32768)
    midi = os.path.join(out, "midi", name + ".mid")
    with open(midi, "wb") as f:
        f.write(midi_file(program, note))
    samples, channels = synthesise(sf_path, midi, gain, name)
    peak = max(map(abs, samples))
    quiet = 10.0 ** (QUIET_DB / 20.0)
    sigma = peak * 10.0 ** (NOISE_DB / 20.0)
    noise = random.Random(zlib.crc32(name.encode()))
    write_wav(paths["quiet"], [round(x * quiet) for x in samples], channels)
    write_wav(paths["noisy"], [min(32767, max(-32768, x + round(noise.gauss(0.0, sigma))))
                               for x in samples], channels)
    write_wav(paths["plain"], samples, channels)  # last: it marks the note as done
    return peak, samples.count(32767) + samples.count(-32768)


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("out")
    parser.add_argument("soundfonts", nargs="+", metavar="NAME=SOUNDFONT")
    parser.add_argument("--quick", action="store_true")
    parser.add_argument("--jobs", type=int, default=2)
    parser.add_argument("--gain", type=float, default=1.0)
    parser.add_argument("--instrument", action="append", default=[])
    parser.add_argument("--by-font", action="store_true")
    args = parser.parse_args()
    known = [i[0] for i in INSTRUMENTS]
    if any(name not in known for name in args.instrument):
        parser.error(f"--instrument takes one of: {', '.join(known)}")
    soundfonts = [s.split("=", 1) for s in args.soundfonts]
    if any(len(s) != 2 or not os.path.isfile(s[1]) for s in soundfonts):
        parser.error(f"each sound font must be NAME=FILE of an existing file: {args.soundfonts}")

    # A change of the settings or sound fonts makes every rendered note stale.
    settings = f"{soundfonts} gain={args.gain} {LEAD} {HOLD} {TAIL} {VELOCITY} " \
               f"{QUIET_DB} {NOISE_DB}{' by font' if args.by_font else ''}\n"
    stamp = os.path.join(args.out, "render-settings.txt")
    if not os.path.exists(stamp) or open(stamp).read() != settings:
        for folder in ("midi", "plain", "quiet", "noisy"):
            shutil.rmtree(os.path.join(args.out, folder), ignore_errors=True)
    for folder in ("midi", "plain", "quiet", "noisy"):
        os.makedirs(os.path.join(args.out, folder), exist_ok=True)
        for sf_name, _ in soundfonts if args.by_font and folder != "midi" else []:
            os.makedirs(os.path.join(args.out, folder, sf_name), exist_ok=True)
    with open(stamp, "w") as f:
        f.write(settings)

    jobs, rows = [], []
    for sf_name, sf_path in soundfonts:
        for instrument, program, low, high in INSTRUMENTS:
            if args.instrument and instrument not in args.instrument:
                continue
            notes = spread(low, high)
            if args.quick:
                if instrument not in QUICK:
                    continue
                notes = [notes[0], notes[len(notes) // 2], notes[-1]]
            for note in notes:
                name = f"{sf_name}_{program:03d}-{instrument.replace(' ', '-')}_" \
                       f"{note:03d}-{note_name(note).replace('#', 's')}"
                jobs.append((args.out, sf_name, sf_path, args.gain, name, program, note,
                             sf_name if args.by_font else ""))
    with Pool(max(1, args.jobs)) as pool:
        results = pool.map(render, jobs, chunksize=1)

    with open(os.path.join(args.out, "manifest.csv"), "w", newline="") as f:
        out = csv.writer(f, lineterminator="\n")
        out.writerow(["file", "soundfont", "instrument", "program", "midi_note", "note",
                      "nominal_hz", "variant", "plain_peak_dbfs"])
        for (_, sf_name, _, _, name, program, note, folder), (peak, _) in zip(jobs, results):
            instrument = next(i[0] for i in INSTRUMENTS if i[1] == program)
            for variant in ("plain", "quiet", "noisy"):
                out.writerow([os.path.join(variant, folder, name + ".wav"), sf_name,
                              instrument, program, note, note_name(note), f"{nominal_hz(note):.4f}", variant,
                              f"{20 * math.log10(max(peak, 1) / 32768):.1f}"])
    peaks = sorted(20 * math.log10(max(p, 1) / 32768) for p, _ in results)
    clipped = sum(1 for _, c in results if c)
    print(f"{len(jobs)} notes x 3 variants at gain {args.gain}: plain peaks "
          f"{peaks[0]:.1f} / {peaks[len(peaks) // 2]:.1f} / {peaks[-1]:.1f} dBFS "
          f"(lowest / median / highest); {clipped} notes with clipped samples")


if __name__ == "__main__":
    main()
