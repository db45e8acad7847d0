#!/usr/bin/env python3
"""Scales played legato, rendered from the sound fonts, and the scores of
toneprint-batch's JSON against them.

  legato.py make OUT NAME=SOUNDFONT...  writes OUT/NAME_INSTRUMENT_SCALE.wav
                                        and OUT/truth.json
  legato.py score OUT MODE...           reads OUT/json/MODE.json, prints a
                                        Markdown table and keeps it as
                                        OUT/table.md

Each instrument plays two scales per sound font, each note's note-on at the
previous note's note-off (no silence between them): a major scale of 8
notes up and one of 5 notes down, each note held 0.6 to 1.5 s (drawn with
a fixed seed), after 0.5 s of silence. The truth is each note's pitch and
the time of its note-on. A note is found when a tone lies within 50 cents
of it and starts within 50 ms of its note-on. Rendering goes through
render.py's fluidsynth call.
"""
import glob
import json
import math
import os
import random
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import render  # noqa: E402  (beside this file)

# Instrument, General MIDI program (counted from 1), the lowest note of the
# scale going up and the highest of the one going down.
INSTRUMENTS = [
    ("flute", 74, 72, 84), ("clarinet", 72, 55, 70), ("oboe", 69, 62, 77),
    ("violin", 41, 60, 76), ("trumpet", 57, 58, 72), ("choir aahs", 53, 55, 67),
]
MAJOR = [0, 2, 4, 5, 7, 9, 11, 12]
SHORTEST, LONGEST = 0.6, 1.5  # seconds a note is held
FOUND_CENTS, FOUND_SECONDS = 50.0, 0.05
PER_SECOND = 960  # MIDI ticks: 480 a beat at 120 beats a minute


def scale_midi(program, notes):
    """A one-track MIDI file: the notes (note, start, seconds) in turn, each
    note-off at the same tick as the next note-on and before it."""
    events = [(0.0, 0, b"\xff\x51\x03" + (500000).to_bytes(3, "big")),
              (0.0, 0, bytes([0xC0, program - 1]))]
    for note, start, seconds in notes:
        events.append((start, 2, bytes([0x90, note, render.VELOCITY])))
        events.append((start + seconds, 1, bytes([0x80, note, 0])))
    last = max(start + seconds for _, start, seconds in notes)
    events.append((last + render.RENDER_TAIL, 3, b"\xff\x2f\x00"))
    events.sort(key=lambda e: (round(e[0] * PER_SECOND), e[1]))
    track, now = b"", 0
    for seconds, _, data in events:
        tick = round(seconds * PER_SECOND)
        track += render.varlen(tick - now) + data
        now = tick
    return (b"MThd" + (6).to_bytes(4, "big") + bytes([0, 0, 0, 1, 1, 0xE0]) +
            b"MTrk" + len(track).to_bytes(4, "big") + track)


def scales(name, low, high):
    """The two scales of an instrument: (label, [(note, start, seconds)])."""
    rng = random.Random(name)
    out = []
    for label, notes in (("up", [low + step for step in MAJOR]),
                         ("down", [high - step for step in [0, 1, 3, 5, 7]])):
        start, played = render.LEAD, []
        for note in notes:
            # Whole ticks, so that the truth is the MIDI file's time.
            seconds = round(rng.uniform(SHORTEST, LONGEST) * PER_SECOND) / PER_SECOND
            played.append((note, start, seconds))
            start += seconds
        out.append((label, played))
    return out


def make(out, soundfonts):
    os.makedirs(os.path.join(out, "midi"), exist_ok=True)
    truth = {}
    for sf_name, sf_path in soundfonts:
        for instrument, program, low, high in INSTRUMENTS:
            for label, notes in scales(sf_name + instrument, low, high):
                name = "%s_%s_%s" % (sf_name, instrument.replace(" ", "-"), label)
                path = os.path.join(out, name + ".wav")
                truth[name + ".wav"] = {
                    "instrument": instrument, "soundfont": sf_name,
                    "notes": [{"midi": n, "hz": render.nominal_hz(n), "start_s": s,
                               "seconds": d} for n, s, d in notes]}
                if os.path.exists(path):
                    continue
                midi = os.path.join(out, "midi", name + ".mid")
                with open(midi, "wb") as f:
                    f.write(scale_midi(program, notes))
                samples, channels = render.synthesise(sf_path, midi, 1.8, name)
                render.write_wav(path, samples, channels)
    with open(os.path.join(out, "truth.json"), "w") as f:
        json.dump(truth, f, indent=1)


def found(note, tones):
    for tone in tones:
        frequency = tone.get("frequency_hz")
        if not frequency:
            continue
        if (abs(1200.0 * math.log2(frequency / note["hz"])) <= FOUND_CENTS and
                abs(tone["start_s"] - note["start_s"]) <= FOUND_SECONDS):
            return True
    return False


def score(out, modes):
    with open(os.path.join(out, "truth.json")) as f:
        truth = json.load(f)
    counts = {}  # (instrument, mode) -> [found, notes]
    tones_per_mode = {}
    for mode in modes:
        with open(os.path.join(out, "json", mode + ".json")) as f:
            recordings = json.load(f)["recordings"]
        tones_total = 0
        for recording in recordings:
            entry = truth[os.path.basename(recording["file"])]
            tones = recording.get("tones", [])
            tones_total += len(tones)
            count = counts.setdefault((entry["instrument"], mode), [0, 0])
            for note in entry["notes"]:
                count[0] += found(note, tones)
                count[1] += 1
        tones_per_mode[mode] = tones_total
    instruments = [i[0] for i in INSTRUMENTS]
    lines = ["| instrument | notes | " + " | ".join("found, %s" % m for m in modes) + " |",
             "|---|---|" + "---|" * len(modes)]
    for instrument in instruments + ["all"]:
        cells = []
        notes = 0
        for mode in modes:
            if instrument == "all":
                hit = sum(counts[(i, mode)][0] for i in instruments if (i, mode) in counts)
                notes = sum(counts[(i, mode)][1] for i in instruments if (i, mode) in counts)
            else:
                hit, notes = counts.get((instrument, mode), [0, 0])
            cells.append("%d (%.0f %%)" % (hit, 100.0 * hit / notes if notes else 0.0))
        lines.append("| %s | %d | %s |" % (instrument, notes, " | ".join(cells)))
    lines.append("")
    lines.append("Tones reported: " + ", ".join("%s %d" % (m, tones_per_mode[m]) for m in modes) +
                 "; notes played: %d." % sum(len(e["notes"]) for e in truth.values()))
    table = "\n".join(lines)
    print(table)
    with open(os.path.join(out, "table.md"), "w") as f:
        f.write(table + "\n")


def main(argv):
    if len(argv) >= 3 and argv[0] == "make":
        soundfonts = [s.split("=", 1) for s in argv[2:]]
        if any(len(s) != 2 or not os.path.isfile(s[1]) for s in soundfonts):
            print("each sound font must be NAME=FILE of an existing file", file=sys.stderr)
            return 2
        make(argv[1], soundfonts)
    elif len(argv) >= 3 and argv[0] == "score":
        score(argv[1], argv[2:])
    else:
        print(__doc__.strip(), file=sys.stderr)
        return 2
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
