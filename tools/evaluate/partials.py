#!/usr/bin/env python3
"""Synthetic tones whose every partial is known, and the scores of
toneprint-batch's JSON against them.

  partials.py make OUT           writes OUT/SET.wav and OUT/SET.truth.json
  partials.py score OUT MODE...  reads OUT/json/MODE-SET.json, prints a
                                 Markdown table and keeps it as OUT/table.md

The sets, at 44100 samples per second, 16 bits, each tone 1.6 s with 0.8 s
between tones, white noise at -66 dBFS (RMS) throughout:

  stiff     stiff strings f_k = k F sqrt(1 + B k^2), A0 to C8, B from 1e-5
            to 1e-2
  vibrato   harmonic tones, C3 to C6, a sine vibrato of +-10 to +-50 cents
            at 4 to 8 Hz, half of them with a +-2 dB tremolo
  steady    harmonic tones, E1 to E7, nothing moving

Partial 1 is at 0.2 of full scale; partials 2 to 20 (those below 0.45 of
the sample rate) lie between 0 and -60 dB of it, in random phases, and two
of them in each tone are left out (absent). The draw is fixed, so the
files are the same on every machine.
"""
import json
import math
import os
import statistics
import sys
import wave

import numpy as np

RATE = 44100
TONE_SECONDS = 1.6
GAP_SECONDS = 0.8
FADE_SECONDS = 0.015
FIRST_AMPLITUDE = 0.2 * 32767
NOISE_RMS = 32767 * 10 ** (-66 / 20)
MAX_PARTIALS = 20
HARMONICS = MAX_PARTIALS - 1  # --harmonics for the runs
LOWEST_LEVEL = -60.0


def note_hz(midi):
    return 440.0 * 2 ** ((midi - 69) / 12)


def tone_plans(name, rng):
    """Each tone's parameters: note, B, vibrato and tremolo."""
    plans = []
    if name == "stiff":
        for b in (1e-5, 3e-5, 1e-4, 3e-4, 1e-3, 3e-3, 1e-2):
            for midi in list(range(21, 106, 7)) + [108]:
                plans.append({"midi": midi, "b": b})
    elif name == "vibrato":
        for midi in range(48, 85, 4):
            for extent in (10.0, 25.0, 50.0):
                for rate in (4.0, 6.0, 8.0):
                    plans.append({"midi": midi, "b": 0.0, "vibrato_cents": extent,
                                  "vibrato_hz": rate,
                                  "tremolo_db": 2.0 if (midi + int(extent) + int(rate)) % 2 else 0.0})
    elif name == "steady":
        for midi in range(28, 101, 6):
            plans.append({"midi": midi, "b": 0.0})
    for plan in plans:
        f1 = note_hz(plan["midi"])
        b = plan["b"]
        string = f1 / math.sqrt(1 + b)
        numbers = [k for k in range(1, MAX_PARTIALS + 1)
                   if k * string * math.sqrt(1 + b * k * k) * 2 ** (plan.get("vibrato_cents", 0) / 1200)
                   < 0.45 * RATE]
        levels = [0.0] + [float(rng.uniform(LOWEST_LEVEL, 0.0)) for _ in numbers[1:]]
        absent = set()
        if len(numbers) > 3:
            absent = set(int(k) for k in rng.choice(numbers[1:], size=2, replace=False))
        plan["partials"] = [
            {"number": k, "frequency_hz": k * string * math.sqrt(1 + b * k * k),
             "level_db": None if k in absent else levels[i],
             "phase": float(rng.uniform(0, 2 * math.pi))}
            for i, k in enumerate(numbers)]
        plan["vibrato_phase"] = float(rng.uniform(0, 2 * math.pi))
    return plans


def synthesise(plan, rng):
    n = int(TONE_SECONDS * RATE)
    t = np.arange(n) / RATE
    cents = plan.get("vibrato_cents", 0.0)
    if cents:
        ratio = 2 ** (cents / 1200 * np.sin(2 * math.pi * plan["vibrato_hz"] * t + plan["vibrato_phase"]))
        # The phase of a frequency that follows the vibrato, sample by
        # sample (trapezoids), in cycles of partial 1.
        f = note_hz(plan["midi"]) * ratio
        cycles = np.concatenate(([0.0], np.cumsum((f[1:] + f[:-1]) / 2) / RATE))
    else:
        cycles = note_hz(plan["midi"]) * t
    f1 = plan["partials"][0]["frequency_hz"]
    x = np.zeros(n)
    for p in plan["partials"]:
        if p["level_db"] is None:
            continue
        amplitude = FIRST_AMPLITUDE * 10 ** (p["level_db"] / 20)
        x += amplitude * np.cos(2 * math.pi * cycles * (p["frequency_hz"] / f1) + p["phase"])
    if plan.get("tremolo_db"):
        x *= 10 ** (plan["tremolo_db"] / 20 * np.sin(2 * math.pi * plan["vibrato_hz"] * t))
    fade = int(FADE_SECONDS * RATE)
    ramp = 0.5 - 0.5 * np.cos(np.pi * np.arange(fade) / fade)
    x[:fade] *= ramp
    x[-fade:] *= ramp[::-1]
    return x


def make(out):
    os.makedirs(out, exist_ok=True)
    for index, name in enumerate(("stiff", "vibrato", "steady")):
        truth_path = os.path.join(out, name + ".truth.json")
        wav_path = os.path.join(out, name + ".wav")
        rng = np.random.default_rng(20261208 + index)
        plans = tone_plans(name, rng)
        gap = int(GAP_SECONDS * RATE)
        pieces = [np.zeros(gap)]
        for plan in plans:
            pieces += [synthesise(plan, rng), np.zeros(gap)]
        x = np.concatenate(pieces)
        x += rng.normal(0.0, NOISE_RMS, x.size)
        samples = np.clip(np.round(x), -32768, 32767).astype("<i2")
        with wave.open(wav_path, "wb") as w:
            w.setnchannels(1)
            w.setsampwidth(2)
            w.setframerate(RATE)
            w.writeframes(samples.tobytes())
        with open(truth_path, "w") as f:
            json.dump({"set": name, "sample_rate": RATE, "harmonics": HARMONICS, "tones": plans}, f,
                      indent=1)
        print("%s: %d tones" % (wav_path, len(plans)))


def cents(a, b):
    return 1200.0 * math.log2(a / b)


def percentile(values, q):
    if not values:
        return None
    values = sorted(values)
    return values[min(len(values) - 1, int(math.ceil(q * len(values))) - 1)]


def measured_partials(tone):
    """Per partial number: (frequency Hz or None, level dB or None, flagged
    below the noise) from a tone of either mode."""
    result = {}
    if tone.get("partials"):
        for p in tone["partials"]:
            result[p["number"]] = (p.get("frequency_hz"), p.get("level_db"), bool(p.get("below_noise")))
        return result
    harmonics = tone.get("harmonics") or []
    f0 = tone.get("frequency_hz")
    if not harmonics or not f0 or not harmonics[0]:
        return result
    for i, a in enumerate(harmonics):
        level = 20 * math.log10(a / harmonics[0]) if a and a > 0 else None
        result[i + 1] = ((i + 1) * f0, level, False)
    return result


def score_set(truth, tones):
    rows = {"level": [], "frequency": [], "b": [], "rate": [], "extent": [], "pitch": [],
            "absent": 0, "flagged": 0, "gross": 0}
    if len(tones) != len(truth["tones"]):
        rows["mismatch"] = "%d tones found, %d made" % (len(tones), len(truth["tones"]))
        return rows
    for plan, tone in zip(truth["tones"], tones):
        first = plan["partials"][0]["frequency_hz"]
        # A tone whose pitch was not found, or not within 50 cents, is a
        # pitch detection's failure: counted, and left out of the rest.
        if not tone.get("frequency_hz") or abs(cents(tone["frequency_hz"], first)) > 50:
            rows["gross"] += 1
            continue
        rows["pitch"].append(abs(cents(tone["frequency_hz"], first)))
        measured = measured_partials(tone)
        for p in plan["partials"]:
            got = measured.get(p["number"])
            if p["level_db"] is None:
                rows["absent"] += 1
                rows["flagged"] += 1 if got is not None and got[2] else 0
                continue
            if got is None or got[2]:
                continue
            frequency, level, _ = got
            if p["number"] > 1 and level is not None and p["level_db"] >= LOWEST_LEVEL:
                rows["level"].append(abs(level - p["level_db"]))
            if frequency:
                rows["frequency"].append(abs(cents(frequency, p["frequency_hz"])))
        inharmonicity = tone.get("inharmonicity")
        if inharmonicity and plan["b"] > 0 and len(plan["partials"]) >= 6:
            rows["b"].append(abs(inharmonicity["b"] - plan["b"]) / plan["b"])
        if plan.get("vibrato_cents") and tone.get("vibrato"):
            rows["rate"].append(abs(tone["vibrato"]["rate_hz"] - plan["vibrato_hz"]))
            rows["extent"].append(abs(tone["vibrato"]["extent_cents"] - plan["vibrato_cents"]))
    return rows


def figure(value, digits):
    return "—" if value is None else ("%." + str(digits) + "f") % value


def score(out, modes):
    lines = ["| set | mode | gross pitch errors | level error median / p95 (dB) | B relative error, max | "
             "partial frequency error p95 (cents) | pitch error p95 (cents) | "
             "vibrato rate / extent error, max | absent partials flagged |",
             "|---|---|---|---|---|---|---|---|---|"]
    defaults = {}
    for name in ("stiff", "vibrato", "steady"):
        with open(os.path.join(out, name + ".truth.json")) as f:
            truth = json.load(f)
        for mode in modes:
            path = os.path.join(out, "json", "%s-%s.json" % (mode, name))
            with open(path) as f:
                recording = json.load(f)["recordings"][0]
            tones = recording.get("tones", [])
            rows = score_set(truth, tones)
            if "mismatch" in rows:
                lines.append("| %s | %s | %s | | | | | | |" % (name, mode, rows["mismatch"]))
                continue
            if name == "steady" and (mode == "default" or "partials" in mode):
                defaults.setdefault(mode, tones)
            level = rows["level"]
            b = max(rows["b"]) if rows["b"] else None
            vibrato = ("%s / %s" % (figure(max(rows["rate"]), 2), figure(max(rows["extent"]), 1))
                       if rows["rate"] else "—")
            lines.append("| %s | %s | %d of %d | %s / %s | %s | %s | %s | %s | %d of %d |" % (
                name, mode, rows["gross"], len(tones), figure(statistics.median(level) if level else None, 3),
                figure(percentile(level, 0.95), 3), figure(b, 4),
                figure(percentile(rows["frequency"], 0.95), 3),
                figure(percentile(rows["pitch"], 0.95), 3), vibrato, rows["flagged"],
                rows["absent"]))
    if "default" in defaults and len(defaults) > 1:
        for mode, tones in defaults.items():
            if mode == "default":
                continue
            differences = []
            for reference, tone in zip(defaults["default"], tones):
                for i, a in enumerate(reference.get("harmonics") or []):
                    partial = next((p for p in tone.get("partials") or [] if p["number"] == i + 1), None)
                    if a and a > 0 and partial and partial.get("amplitude"):
                        differences.append(abs(20 * math.log10(partial["amplitude"] / a)))
            lines.append("")
            lines.append("Steady tones, %s against the default's amplitudes: median %s dB, p95 %s dB "
                         "over %d partials." % (mode, figure(statistics.median(differences) if differences else None, 4),
                                                figure(percentile(differences, 0.95), 4), len(differences)))
    table = "\n".join(lines)
    print(table)
    with open(os.path.join(out, "table.md"), "w") as f:
        f.write(table + "\n")


def main(argv):
    if len(argv) >= 2 and argv[0] == "make":
        make(argv[1])
    elif len(argv) >= 3 and argv[0] == "score":
        score(argv[1], argv[2:])
    else:
        print(__doc__.strip(), file=sys.stderr)
        return 2
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
