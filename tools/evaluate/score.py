#!/usr/bin/env python3
"""Scores toneprint-batch's JSON against the manifest of rendered notes:
writes OUT/results.csv (one row per note, variant and mode) and prints a
Markdown table, also kept as OUT/table.md.

  score.py OUT MODE[=LABEL]...

reads OUT/manifest.csv and OUT/json/MODE-VARIANT.json for each mode, and
heads the mode's columns with LABEL when given. A note's measured pitch is
its recording's tone with a frequency and the most passes (ties: the
earliest); an error of more than 50 cents from the nominal pitch, or no
such tone, is a gross error: "octave" when the pitch is within 50 cents of
a whole number of octaves off, otherwise "other", or "unmeasured".
"""
import csv
import json
import math
import os
import statistics
import sys

VARIANTS = ("plain", "quiet", "noisy")
KINDS = (("unmeasured", "u"), ("octave", "o"), ("other", "x"))


def measured(recording):
    """The tone that stands for the note, or None."""
    tones = [t for t in recording.get("tones", []) if t.get("frequency_hz") is not None]
    return max(tones, key=lambda t: (t["passes"], -t["start_s"]), default=None)


def judge(tone, nominal):
    """(cents, error kind or '')."""
    if tone is None or not tone["frequency_hz"] > 0:
        return None, "unmeasured"
    cents = 1200.0 * math.log2(tone["frequency_hz"] / nominal)
    if abs(cents) <= 50.0:
        return cents, ""
    octaves = round(cents / 1200.0)
    return cents, "octave" if abs(cents - 1200.0 * octaves) <= 50.0 else "other"


def summary(rows):
    """Gross errors (with their kinds) and the median |cents| of the rest."""
    errors = [r["error"] for r in rows if r["error"]]
    gross = str(len(errors))
    if errors:
        gross += " (" + " ".join(f"{errors.count(k)}{s}" for k, s in KINDS if k in errors) + ")"
    good = [abs(r["cents"]) for r in rows if not r["error"]]
    return gross, f"{statistics.median(good):.2f}" if good else "–"


def main():
    if len(sys.argv) < 3:
        sys.exit("usage: score.py OUT MODE[=LABEL]...")
    out = sys.argv[1]
    modes = [m.split("=", 1)[0] for m in sys.argv[2:]]
    labels = dict(m.split("=", 1) if "=" in m else (m, m) for m in sys.argv[2:])
    with open(os.path.join(out, "manifest.csv"), newline="") as f:
        manifest = list(csv.DictReader(f))
    rows, unreadable = [], 0
    for mode in modes:
        for variant in VARIANTS:
            notes = [m for m in manifest if m["variant"] == variant]
            if not notes:
                continue
            path = os.path.join(out, "json", f"{mode}-{variant}.json")
            with open(path) as f:
                recordings = {os.path.join(*r["file"].split("/")[-2:]): r
                              for r in json.load(f)["recordings"]}
            for note in notes:
                recording = recordings.get(note["file"])
                if recording is None or "error" in recording:
                    unreadable += 1
                    recording = {}
                tone = measured(recording)
                cents, error = judge(tone, float(note["nominal_hz"]))
                rows.append(dict(note, mode=mode, tones=len(recording.get("tones", [])),
                                 measured_hz=tone["frequency_hz"] if tone else None,
                                 cents=cents, error=error))

    with open(os.path.join(out, "results.csv"), "w", newline="") as f:
        w = csv.writer(f, lineterminator="\n")
        w.writerow(["file", "soundfont", "instrument", "note", "nominal_hz", "variant", "mode",
                    "tones_found", "measured_hz", "cents", "error"])
        for r in rows:
            w.writerow([r["file"], r["soundfont"], r["instrument"], r["note"], r["nominal_hz"],
                        r["variant"], r["mode"], r["tones"],
                        "" if r["measured_hz"] is None else f"{r['measured_hz']:.3f}",
                        "" if r["cents"] is None else f"{r['cents']:.2f}", r["error"]])

    def line(label, program, selected):
        cells = [label, program, str(len(selected) // len(modes))]
        for mode in modes:
            cells += summary([r for r in selected if r["mode"] == mode])
        return "| " + " | ".join(cells) + " |"

    head = ["instrument", "GM", "notes"]
    for mode in modes:
        head += [f"{labels[mode]}: gross", f"{labels[mode]}: median \\|¢\\|"]
    table = ["| " + " | ".join(head) + " |", "|" + "---|" * len(head)]
    plain = [r for r in rows if r["variant"] == "plain"]
    for name, program in dict.fromkeys((r["instrument"], r["program"]) for r in plain):
        table.append(line(name, program, [r for r in plain if r["instrument"] == name]))
    for soundfont in dict.fromkeys(r["soundfont"] for r in plain):
        table.append(line(f"**plain, {soundfont}**", "",
                          [r for r in plain if r["soundfont"] == soundfont]))
    for variant in VARIANTS:
        table.append(line(f"**{variant}, all**", "", [r for r in rows if r["variant"] == variant]))
    text = "\n".join(table) + "\n\nGross errors: u unmeasured, o octave, x other pitch; " \
        "median |¢| of the notes without a gross error.\n"
    if "robust" not in modes:
        text += "The robust mode is not in this build of toneprint-batch: default mode only.\n"
    if unreadable:
        text += f"{unreadable} recordings were missing from the output or could not be read.\n"
    with open(os.path.join(out, "table.md"), "w") as f:
        f.write(text)
    print(text, end="")


if __name__ == "__main__":
    main()
