#!/usr/bin/env python3
"""Tuning against a target, measured against known truth: synthetic
recordings of scales and chords in known temperaments at known reference
pitches, judged by toneprint-batch's --expect, --temperament,
--temperament-root, --a4 and --stretch.

  tuning.py make OUT        writes the recordings, note lists, scale files
                            and OUT/truth.json
  tuning.py run OUT BATCH   runs BATCH on them (OUT/json/), prints a
                            Markdown table, keeps it as OUT/table.md and
                            exits 1 when any check fails

Each set is one recording, 44100 samples per second, 16 bits: a chromatic
scale from its root up an octave (13 keys, or 20 for 19 degrees) and three
triads (low, middle, high) as separate notes, each 0.8 to 1.2 s (drawn with a fixed seed) with
0.6 s of silence between them, six harmonics falling 6 dB per octave whose
decay quickens with their number, and white noise at -80 dBFS. The truth
is each note's frequency from the temperament's textbook definition: the
fifths that lead to each note from C (the pure fifth 3:2 less its share of
the syntonic comma 81:80, the Pythagorean comma 3^12:2^19 or the schisma
32805:32768), laid on the set's root, the note A4 at the reference pitch
and each octave wider by the stretch. The sets: Werckmeister III at
A4 = 415 Hz, quarter-comma meantone at 430, equal temperament at 442
stretched 1.5 cents an octave, Kirnberger III on Eb at 440, and two Scala
files at 440: Vallotti (in cents) and 19 equal degrees (keys in a row take
degrees in a row).

The checks, for each set:
  expect   --expect with the set's notes: every tone's deviation_cents
           within 0.05 c of 0, its expected_hz within 0.01 c of the truth,
           best_reference.a4_hz within 0.05 Hz of the true A4;
  wrong    the same with a wrong --a4: every deviation the wrong reference's
           offset in cents (within 0.05 c), and the best reference still
           the true A4 within 0.05 Hz;
  nearest  no --expect: each tone's nearest note is its true note, its
           deviation within 0.05 c of 0.
And on a few notes written as separate files: --expect filename (named
Harpsichord_C#4.wav and the like) and --expect smpl (a sampler chunk with
the unity note and a pitch fraction); and the octave guard (--robust
--expect) on three sustained tones that the default analysis or --robust
finds an octave off (GUARDED says how they are built).
"""
import json
import math
import os
import struct
import subprocess
import sys
import wave

import numpy as np

RATE = 44100
GAP_SECONDS = 0.6
SHORTEST, LONGEST = 0.8, 1.2
PEAK = 0.7 * 32767
NOISE_RMS = 32767 * 10 ** (-80 / 20)
HARMONICS = 6
DEVIATION_CENTS = 0.05   # most |deviation_cents| of a tone
TARGET_CENTS = 0.01      # most distance of expected_hz from the truth
A4_HZ = 0.05             # most distance of the best reference from the truth
GUARD_CENTS = 5.0        # most distance of a guarded tone from its truth

# Intervals in cents, from their ratios.
def ratio_cents(ratio):
    return 1200.0 * math.log2(ratio)


FIFTH = ratio_cents(3 / 2)
SYNTONIC = ratio_cents(81 / 80)
PYTHAGOREAN = ratio_cents(3 ** 12 / 2 ** 19)
SCHISMA = ratio_cents(32805 / 32768)

NAMES = ["C", "C#", "D", "Eb", "E", "F", "F#", "G", "G#", "A", "Bb", "B"]
LETTERS = {"C": 0, "D": 2, "E": 4, "F": 5, "G": 7, "A": 9, "B": 11}


def note_name(midi):
    return "%s%d" % (NAMES[midi % 12], midi // 12 - 1)


def parse_name(text):
    """A note name as the JSON writes it ("C#4", "Bb2") as a MIDI number."""
    pc = LETTERS[text[0].upper()]
    rest = text[1:]
    if rest[:1] == "#":
        pc, rest = pc + 1, rest[1:]
    elif rest[:1] == "b":
        pc, rest = pc - 1, rest[1:]
    return pc + 12 * (int(rest) + 1)


def by_fifths(lowest, fifths):
    """Twelve cents above C from a chain of fifths: the chain starts
    `lowest` fifths below C and `fifths` gives its 11 fifths in cents, in
    order up the chain (Eb-Bb, Bb-F, ... for a chain from Eb)."""
    assert len(fifths) == 11
    position = {}
    at = -sum(fifths[:lowest])
    for step in range(12):
        # Into the octave above C; the 1e-9 keeps C itself (a sum of
        # fifths that is 0, give or take rounding) at 0, not 1200.
        position[(7 * (step - lowest)) % 12] = at - 1200.0 * math.floor(at / 1200.0 + 1e-9)
        if step < 11:
            at += fifths[step]
    return [position[pc] for pc in range(12)]


# The temperaments as their authors define them, each a chain of fifths.
TEMPERAMENTS = {
    # C-G, G-D, D-A and B-F# a quarter Pythagorean comma narrow; the rest pure.
    "werckmeister-iii": by_fifths(0, [FIFTH - PYTHAGOREAN / 4] * 3 + [FIFTH] * 2 +
                                  [FIFTH - PYTHAGOREAN / 4] + [FIFTH] * 5),
    # Eleven fifths from Eb to G#, each a quarter syntonic comma narrow.
    "quarter-comma-meantone": by_fifths(3, [FIFTH - SYNTONIC / 4] * 11),
    # Twelve equal semitones.
    "equal": [100.0 * pc for pc in range(12)],
    # C-G-D-A-E a quarter syntonic comma narrow each, F#-C# a schisma
    # narrow, the rest pure.
    "kirnberger-iii": by_fifths(0, [FIFTH - SYNTONIC / 4] * 4 + [FIFTH] * 2 +
                                [FIFTH - SCHISMA] + [FIFTH] * 4),
    # F-C-G-D-A-E-B a sixth Pythagorean comma narrow each, B to F pure.
    "vallotti": by_fifths(1, [FIFTH - PYTHAGOREAN / 6] * 6 + [FIFTH] * 5),
}

# The sets: name, temperament (the option's value, or a scale file written
# here), root, A4, stretch, the wrong A4 and whether the list goes inline.
SETS = [
    {"set": "werckmeister-415", "temperament": "werckmeister-iii", "root": "C", "a4": 415.0,
     "stretch": 0.0, "wrong_a4": 440.0, "inline": False},
    {"set": "meantone-430", "temperament": "quarter-comma-meantone", "root": "C", "a4": 430.0,
     "stretch": 0.0, "wrong_a4": 440.0, "inline": False},
    {"set": "equal-442-stretched", "temperament": "equal", "root": "C", "a4": 442.0,
     "stretch": 1.5, "wrong_a4": 440.0, "inline": True},
    {"set": "kirnberger-on-Eb", "temperament": "kirnberger-iii", "root": "Eb", "a4": 440.0,
     "stretch": 0.0, "wrong_a4": 415.0, "inline": False},
    {"set": "vallotti-scl", "temperament": "vallotti.scl", "root": "C", "a4": 440.0,
     "stretch": 0.0, "wrong_a4": 466.0, "inline": False},
    {"set": "19-equal-scl", "temperament": "19-equal.scl", "root": "C", "a4": 440.0,
     "stretch": 0.0, "wrong_a4": 432.0, "inline": False},
]


def scale_file(name):
    """A Scala file's text and its degrees in cents (the degree 0 first)."""
    if name == "vallotti.scl":
        # Cents (the Vallotti chain above), as a tuner's library writes them.
        degrees = TEMPERAMENTS["vallotti"]
        description = "Vallotti, six fifths a sixth Pythagorean comma narrow"
        lines = ["%.6f" % c for c in degrees[1:]] + ["2/1"]
    else:
        degrees = [1200.0 * step / 19 for step in range(19)]
        description = "19 equal divisions of the octave"
        lines = ["%.6f" % c for c in degrees[1:]] + ["1200.0"]
    text = "! %s\n!\n%s\n %d\n!\n" % (name, description, len(lines))
    return text + "".join(" %s\n" % line for line in lines), degrees


def truth_hz(degrees, root_pc, a4, stretch, midi):
    """The frequency of key `midi`: the scale laid on the root from middle C's
    octave (consecutive keys take consecutive degrees, as a keyboard
    mapping does for a scale of any size), A4 at `a4`, every 12 keys from
    A4 wider by the stretch."""
    def cents(key):
        octave, degree = divmod(key - 60 - root_pc, len(degrees))
        return 1200.0 * octave + degrees[degree]
    return a4 * 2 ** ((cents(midi) - cents(69) + stretch * (midi - 69) / 12) / 1200)


def set_notes(recipe, degrees):
    """The keys played: a chromatic scale up an octave from the root (for
    19 degrees, 20 keys), then a triad low, in the middle and high."""
    root = 60 + parse_name(recipe["root"] + "4") % 12
    size = len(degrees)
    scale = list(range(root, root + size + 1))
    triad = [0, 4, 7] if size == 12 else [0, 6, 11]  # 19-tone: 6 and 11 steps
    chords = []
    for shift in (-size - size // 2, 0, size):  # an octave and a half down, up an octave
        chords += [root + shift + step for step in triad]
    return scale + chords


def tone(frequency, seconds, rng, partials, decaying=True):
    """A plucked tone: `partials` gives (number, level dB) of each partial,
    each decaying faster the higher its number (or, not `decaying`, held
    as an organ holds it), a 4 ms attack and a 30 ms release."""
    n = int(round(seconds * RATE))
    t = np.arange(n) / RATE
    x = np.zeros(n)
    for number, level in partials:
        if number * frequency >= 0.45 * RATE:
            continue
        decay = 0.4 + 0.3 * number if decaying else 0.0  # nepers a second
        x += (10 ** (level / 20) * np.exp(-decay * t) *
              np.sin(2 * math.pi * number * frequency * t + rng.uniform(0, 2 * math.pi)))
    x *= PEAK / max(1e-9, float(np.max(np.abs(x))))
    attack, release = int(0.004 * RATE), int(0.03 * RATE)
    x[:attack] *= 0.5 - 0.5 * np.cos(np.pi * np.arange(attack) / attack)
    x[-release:] *= 0.5 + 0.5 * np.cos(np.pi * np.arange(release) / release)
    return x


PLUCKED = [(k, -6.0 * math.log2(k)) for k in range(1, HARMONICS + 1)]


def samples_of(pieces, rng):
    x = np.concatenate(pieces)
    x += rng.normal(0.0, NOISE_RMS, x.size)
    return np.clip(np.round(x), -32768, 32767).astype("<i2")


def wave_bytes(samples, sampler=None):
    """A 16-bit mono WAVE file; with `sampler` (unity note, pitch fraction)
    a sampler chunk after the data: 36 bytes of fields, no loops."""
    fmt = struct.pack("<HHIIHH", 1, 1, RATE, RATE * 2, 2, 16)
    data = samples.tobytes()
    chunks = b"fmt " + struct.pack("<I", len(fmt)) + fmt
    chunks += b"data" + struct.pack("<I", len(data)) + data + (b"\0" if len(data) % 2 else b"")
    if sampler is not None:
        unity, fraction = sampler
        # Manufacturer, product, sample period (ns), unity note, pitch
        # fraction, SMPTE format and offset, loop count, sampler data.
        fields = struct.pack("<9I", 0, 0, round(1e9 / RATE), unity, fraction, 0, 0, 0, 0)
        chunks += b"smpl" + struct.pack("<I", len(fields)) + fields
    return b"RIFF" + struct.pack("<I", 4 + len(chunks)) + b"WAVE" + chunks


def write_wave(path, samples, sampler=None):
    with open(path, "wb") as f:
        f.write(wave_bytes(samples, sampler))


def write_16bit(path, samples):
    """Through the wave module, the plain way, for the sets."""
    with wave.open(path, "wb") as w:
        w.setnchannels(1)
        w.setsampwidth(2)
        w.setframerate(RATE)
        w.writeframes(samples.tobytes())


def degrees_of(recipe, out):
    name = recipe["temperament"]
    if name.endswith(".scl"):
        text, degrees = scale_file(name)
        with open(os.path.join(out, name), "w") as f:
            f.write(text)
        return degrees
    return TEMPERAMENTS[name]


# The separate files: notes of the Werckmeister set at 415, and a sampler
# chunk's pitch fraction (of a semitone, in 2^-32) where the recording sits
# that far above its note.
SEPARATE = {"temperament": "werckmeister-iii", "a4": 415.0}
SEPARATE_NOTES = [
    # key, file name for --expect filename, pitch fraction for smpl
    (61, "Harpsichord_C#4.wav", 0),
    (54, "Harpsichord_Fs3.wav", 0),
    (70, "Harpsichord_Bb4.wav", 1 << 30),      # 25 cents
    (79, "Harpsichord G5 soft.wav", 3 << 30),  # 75 cents
]

# The octave guard, on sustained (organ-like) tones whose expected note is
# the one they are built on:
# - weak-fundamental: the fundamental 60 dB below partial 2, the odd
#   partials 14 to 18 dB below it: the default finds the note, --robust's
#   vote check an octave high;
# - weak-odd-partials: the fundamental 40 dB and the odd partials 27 dB
#   below partial 2: the default finds it an octave high;
# - sub-octave-16ft: an 8' principal and a stopped 16' rank (its own odd
#   partials) 6 dB below it: found an octave low.
GUARDED = [
    {"name": "weak-fundamental", "midi": 57,
     "partials": [(1, -60.0), (2, 0.0), (3, -14.0), (4, -4.0), (5, -16.0), (6, -8.0),
                  (7, -18.0), (8, -12.0)]},
    {"name": "weak-odd-partials", "midi": 57,
     "partials": [(1, -40.0), (2, 0.0), (3, -27.0), (4, -4.0), (5, -27.0), (6, -8.0),
                  (7, -27.0), (8, -12.0)]},
    {"name": "sub-octave-16ft", "midi": 60,
     "partials": [(0.5, -6.0), (1, 0.0), (1.5, -20.0), (2, -4.0), (3, -8.0), (4, -12.0),
                  (5, -16.0), (6, -20.0)]},
]


def make(out):
    os.makedirs(out, exist_ok=True)
    truth = {"sets": [], "separate": [], "guarded": []}
    for index, recipe in enumerate(SETS):
        rng = np.random.default_rng(20270301 + index)
        degrees = degrees_of(recipe, out)
        root_pc = parse_name(recipe["root"] + "4") % 12
        keys = set_notes(recipe, degrees)
        tones = []
        pieces = [np.zeros(int(GAP_SECONDS * RATE))]
        for key in keys:
            hz = truth_hz(degrees, root_pc, recipe["a4"], recipe["stretch"], key)
            seconds = float(rng.uniform(SHORTEST, LONGEST))
            pieces += [tone(hz, seconds, rng, PLUCKED), np.zeros(int(GAP_SECONDS * RATE))]
            tones.append({"midi": key, "hz": hz})
        write_16bit(os.path.join(out, recipe["set"] + ".wav"), samples_of(pieces, rng))
        # Names for twelve-tone sets; MIDI numbers where names mean little.
        words = [note_name(k) if len(degrees) == 12 else str(k) for k in keys]
        with open(os.path.join(out, recipe["set"] + ".list.txt"), "w") as f:
            f.write("# %s, one note per tone\n" % recipe["set"] + "\n".join(words) + "\n")
        truth["sets"].append(dict(recipe, degrees=degrees, tones=tones, list=words))

    rng = np.random.default_rng(20270401)
    degrees = TEMPERAMENTS[SEPARATE["temperament"]]
    os.makedirs(os.path.join(out, "filename"), exist_ok=True)
    os.makedirs(os.path.join(out, "smpl"), exist_ok=True)
    for number, (key, file_name, fraction) in enumerate(SEPARATE_NOTES, 1):
        target = truth_hz(degrees, 0, SEPARATE["a4"], 0.0, key)
        gap = np.zeros(int(GAP_SECONDS * RATE))
        plain = samples_of([gap, tone(target, 1.0, rng, PLUCKED), gap], rng)
        write_16bit(os.path.join(out, "filename", file_name), plain)
        # The sampler's recording sits at its pitch fraction above the note.
        cents = fraction / 2 ** 32 * 100
        raised = target * 2 ** (cents / 1200)
        sampled = samples_of([gap, tone(raised, 1.0, rng, PLUCKED), gap], rng)
        smpl_name = "take%d.wav" % number
        write_wave(os.path.join(out, "smpl", smpl_name), sampled, (key, fraction))
        truth["separate"].append({"midi": key, "file": file_name, "hz": target,
                                  "smpl_file": smpl_name, "smpl_hz": raised,
                                  "smpl_cents": cents})

    os.makedirs(os.path.join(out, "guard"), exist_ok=True)
    for recipe in GUARDED:
        hz = 440.0 * 2 ** ((recipe["midi"] - 69) / 12)
        gap = np.zeros(int(GAP_SECONDS * RATE))
        x = samples_of([gap, tone(hz, 1.2, rng, recipe["partials"], False), gap], rng)
        path = os.path.join(out, "guard", recipe["name"] + ".wav")
        write_16bit(path, x)
        truth["guarded"].append({"name": recipe["name"], "midi": recipe["midi"], "hz": hz})
    with open(os.path.join(out, "truth.json"), "w") as f:
        json.dump(truth, f, indent=1)


def cents(a, b):
    return 1200.0 * math.log2(a / b)


def run_batch(batch, out, label, arguments):
    """Runs the batch with -f json; the parsed JSON, or an error line."""
    json_path = os.path.join(out, "json", label + ".json")
    log_path = os.path.join(out, "json", label + ".log")
    command = [batch, "-f", "json", "--force", "-j", "1", "-o", json_path] + arguments
    with open(log_path, "w") as log:
        log.write(" ".join(command) + "\n")
        log.flush()
        status = subprocess.run(command, stdout=subprocess.DEVNULL, stderr=log).returncode
    if status != 0:
        return None, "exit %d (%s)" % (status, log_path)
    with open(json_path) as f:
        return json.load(f), ""


def tones_of(report):
    return [t for r in report["recordings"] for t in r.get("tones", [])]


def fmt(value, digits):
    return "—" if value is None else "%.*f" % (digits, value)


class Table:
    def __init__(self):
        self.rows = []
        self.failures = []

    def add(self, row, problems, label=None):
        row.append("pass" if not problems else "FAIL")
        self.rows.append(row)
        label = label or "%s, %s" % (row[0], row[2])
        self.failures += ["%s: %s" % (label, p) for p in problems]


def check_set(batch, out, recipe, table):
    temperament = recipe["temperament"]
    if temperament.endswith(".scl"):
        temperament = os.path.join(out, temperament)
    wav = os.path.join(out, recipe["set"] + ".wav")
    expect = (",".join(recipe["list"]) if recipe["inline"]
              else "@" + os.path.join(out, recipe["set"] + ".list.txt"))
    tuning = ["--temperament", temperament, "--temperament-root", recipe["root"],
              "--stretch", repr(recipe["stretch"])]
    runs = [("expect", ["--expect", expect, "--a4", repr(recipe["a4"])], 0.0),
            ("wrong", ["--expect", expect, "--a4", repr(recipe["wrong_a4"])],
             cents(recipe["a4"], recipe["wrong_a4"])),
            ("nearest", ["--a4", repr(recipe["a4"])], 0.0)]
    for run, flags, offset in runs:
        label = "%s-%s" % (recipe["set"], run)
        shown = " ".join(f for f in flags if not f.startswith("@") and "," not in f)
        if run == "nearest":
            shown = "no --expect (nearest) " + shown
        else:
            shown = shown.replace("--expect", "--expect list")
        if run == "wrong":
            shown += " (wrong)"
        row = [recipe["set"], os.path.basename(temperament) + " on " + recipe["root"], shown]
        report, error = run_batch(batch, out, label, tuning + flags + [wav])
        if report is None:
            table.add(row + ["—"] * 5, [error])
            continue
        tones = tones_of(report)
        problems = []
        truth = recipe["tones"]
        if len(tones) != len(truth):
            problems.append("%d tones found, %d played" % (len(tones), len(truth)))
        worst = 0.0
        for number, (found, true) in enumerate(zip(tones, truth), 1):
            where = "tone %d (key %d)" % (number, true["midi"])
            deviation = found.get("deviation_cents")
            if deviation is None:
                problems.append(where + ": no deviation_cents")
                worst = math.inf
                continue
            worst = max(worst, abs(deviation - offset))
            if abs(deviation - offset) > DEVIATION_CENTS:
                problems.append("%s: deviation %.4f c, %.4f c expected" %
                                (where, deviation, offset))
            want_from = "nearest" if run == "nearest" else "expectation"
            if found.get("expected_from") != want_from:
                problems.append("%s: expected_from %s" % (where, found.get("expected_from")))
            note, target = found.get("expected_note"), found.get("expected_hz")
            # Names are twelve-tone; a 19-tone key's name means little.
            if note is None or (len(recipe["degrees"]) == 12 and parse_name(note) != true["midi"]):
                problems.append("%s: expected_note %s" % (where, note))
            if target is None or (run != "wrong" and abs(cents(target, true["hz"])) > TARGET_CENTS):
                problems.append("%s: expected_hz %s, true %.6f" % (where, target, true["hz"]))
        best = report.get("best_reference")
        best_a4 = best["a4_hz"] if best else None
        if best_a4 is None or abs(best_a4 - recipe["a4"]) > A4_HZ:
            problems.append("best reference %s, true %.2f" % (fmt(best_a4, 4), recipe["a4"]))
        table.add(row + [str(len(tones)), fmt(worst, 4), fmt(best_a4, 3), "%.2f" % recipe["a4"]],
                  problems)


def check_separate(batch, out, truth, table):
    common = ["--temperament", SEPARATE["temperament"], "--a4", repr(SEPARATE["a4"])]
    for source in ("filename", "smpl"):
        files = [os.path.join(out, source, n["file"] if source == "filename" else n["smpl_file"])
                 for n in truth]
        row = ["separate files", SEPARATE["temperament"] + " on C",
               "--expect %s --a4 %g" % (source, SEPARATE["a4"])]
        report, error = run_batch(batch, out, "separate-" + source,
                                  common + ["--expect", source] + files)
        if report is None:
            table.add(row + ["—"] * 4, [error])
            continue
        problems, worst = [], 0.0
        recordings = report["recordings"]
        for true, recording in zip(truth, recordings):
            tones = recording.get("tones", [])
            where = os.path.basename(recording["file"])
            if len(tones) != 1:
                problems.append("%s: %d tones" % (where, len(tones)))
                continue
            found = tones[0]
            want_hz = true["hz"] if source == "filename" else true["smpl_hz"]
            note = found.get("expected_note")
            if note is None or parse_name(note) != true["midi"]:
                problems.append("%s: expected_note %s" % (where, found.get("expected_note")))
            if found.get("expected_from") != "expectation":
                problems.append("%s: expected_from %s" % (where, found.get("expected_from")))
            deviation = found.get("deviation_cents")
            if deviation is None or abs(deviation) > DEVIATION_CENTS:
                problems.append("%s: deviation %s" % (where, deviation))
                worst = math.inf
            else:
                worst = max(worst, abs(deviation))
            target = found.get("expected_hz")
            if target is None or abs(cents(target, want_hz)) > TARGET_CENTS:
                problems.append("%s: expected_hz %s, true %.6f" % (where, target, want_hz))
        if len(recordings) != len(truth):
            problems.append("%d recordings in the JSON" % len(recordings))
        best = report.get("best_reference")
        best_a4 = best["a4_hz"] if best else None
        if best_a4 is None or abs(best_a4 - SEPARATE["a4"]) > A4_HZ:
            problems.append("best reference %s" % fmt(best_a4, 4))
        table.add(row + [str(sum(len(r.get("tones", [])) for r in recordings)), fmt(worst, 4),
                         fmt(best_a4, 3), "%.2f" % SEPARATE["a4"]], problems)


def check_guard(batch, out, truth, table):
    """In --robust with the expected note, the guard takes the expected
    octave and the tone lies within GUARD_CENTS of its truth; without
    --expect the tone is as the robust mode finds it (the octave off, no
    octave_check). The default run is shown, not judged."""
    for recipe in truth:
        wav = os.path.join(out, "guard", recipe["name"] + ".wav")
        note = note_name(recipe["midi"])
        reports, errors = {}, []
        for run, flags in (("default", []), ("robust", ["--robust"]),
                           ("guarded", ["--robust", "--expect", note])):
            report, error = run_batch(batch, out, "guard-%s-%s" % (recipe["name"], run),
                                      flags + [wav])
            reports[run] = report
            if error:
                errors.append(run + ": " + error)
        row = [recipe["name"], note, "%.3f" % recipe["hz"]]
        if errors:
            table.add(row + ["—"] * 5, errors, recipe["name"])
            continue
        tones = {run: tones_of(report) for run, report in reports.items()}
        if any(len(found) != 1 for found in tones.values()):
            table.add(row + ["—"] * 5, ["tones found: " + ", ".join(
                "%s %d" % (run, len(found)) for run, found in tones.items())], recipe["name"])
            continue
        off = {run: (None if found[0].get("frequency_hz") is None
                     else cents(found[0]["frequency_hz"], recipe["hz"]))
               for run, found in tones.items()}
        problems = []
        check = tones["guarded"][0].get("octave_check")
        if not check:
            problems.append("no octave_check")
        elif check.get("taken") != "expected":
            problems.append("octave_check taken %s (evidence %s, found %.3f Hz)" %
                            (check.get("taken"), check.get("evidence"), check.get("found_hz", 0)))
        if off["guarded"] is None or abs(off["guarded"]) > GUARD_CENTS:
            problems.append("guarded frequency %s c from the truth" % fmt(off["guarded"], 3))
        alone = tones["robust"][0]
        if "octave_check" in alone or "expected_note" in alone:
            problems.append("without --expect the tone has a target or an octave_check")
        if off["robust"] is None or abs(abs(off["robust"]) - 1200.0) > GUARD_CENTS:
            problems.append("--robust alone %s c from the truth: not an octave off, so no test of "
                            "the guard" % fmt(off["robust"], 1))
        elif check and abs(cents(alone["frequency_hz"], check["found_hz"])) > 0.01:
            problems.append("--robust alone %.4f Hz, the guard found %.4f Hz" %
                            (alone["frequency_hz"], check["found_hz"]))
        table.add(row + [fmt(off["default"], 1), fmt(off["robust"], 1),
                         (check or {}).get("taken", "—"), (check or {}).get("evidence", "—"),
                         fmt(off["guarded"], 3)], problems, recipe["name"])


def markdown(header, rows):
    lines = ["| " + " | ".join(header) + " |",
             "|" + "|".join("---:" if h.startswith(("tones", "max", "best", "true", "default",
                                                      "robust", "guarded")) else "---"
                            for h in header) + "|"]
    return lines + ["| " + " | ".join(row) + " |" for row in rows]


def run(out, batch):
    with open(os.path.join(out, "truth.json")) as f:
        truth = json.load(f)
    os.makedirs(os.path.join(out, "json"), exist_ok=True)
    table, guard = Table(), Table()
    for recipe in truth["sets"]:
        check_set(batch, out, recipe, table)
    check_separate(batch, out, truth["separate"], table)
    check_guard(batch, out, truth["guarded"], guard)

    lines = markdown(["set", "temperament", "run", "tones", "max \\|deviation\\| (c)",
                      "best A4 (Hz)", "true A4", ""], table.rows)
    lines += ["", "Deviation: from the target, less the wrong reference's offset in the wrong "
              "runs; a pass needs every tone within %.2f c, its target within %.2f c of the "
              "truth and the best A4 within %.2f Hz." % (DEVIATION_CENTS, TARGET_CENTS, A4_HZ), ""]
    lines += markdown(["octave guard", "expected", "true Hz", "default (c)", "robust (c)",
                       "guard took", "evidence", "guarded --robust --expect (c)", ""], guard.rows)
    lines += ["", "Cents from the true note. A pass needs the guard to take the expected octave, "
              "the guarded tone within %.0f c of the truth, and --robust without --expect "
              "unguarded and an octave off." % GUARD_CENTS]
    text = "\n".join(lines) + "\n"
    failures = table.failures + guard.failures
    if failures:
        text += "\nFailures:\n" + "".join("- %s\n" % f for f in failures)
    with open(os.path.join(out, "table.md"), "w") as f:
        f.write(text)
    print(text, end="")
    return 1 if failures else 0


def main(argv):
    if len(argv) == 3 and argv[1] == "make":
        make(argv[2])
        return 0
    if len(argv) == 4 and argv[1] == "run":
        return run(argv[2], argv[3])
    print(__doc__, file=sys.stderr)
    return 2


if __name__ == "__main__":
    sys.exit(main(sys.argv))
