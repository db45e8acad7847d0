#!/usr/bin/env python3
"""What the partials analysis makes of sampled strings: renders piano,
harpsichord and guitar notes across their ranges from General MIDI sound
fonts, then reads toneprint-batch's JSON of them into a table, a picture of
the inharmonicity B against the note, and a summary.

  inharmonicity.py render OUT NAME=SOUNDFONT...  writes OUT/notes/*.wav and
                                                 OUT/manifest.csv
  inharmonicity.py report OUT                    reads OUT/partials.json and
                                                 writes OUT/inharmonicity.csv,
                                                 .png and summary.md

Notes are rendered as tools/evaluate/render.py renders them (its MIDI file
and fluidsynth settings), held 2.5 s so that the partials analysis gets
several passes even in the bass; notes already rendered with the same
settings are kept.
"""
import csv
import json
import os
import statistics
import sys
from multiprocessing import Pool

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import render  # noqa: E402  (the evaluation's renderer, beside this file)
from score import measured  # noqa: E402

HOLD = 2.5  # seconds
GAIN = 1.8  # as tools/evaluate.sh: the loudest notes near -1 dBFS
# Instrument, General MIDI program, lowest and highest MIDI note, step.
INSTRUMENTS = [("piano", 1, 21, 108, 3), ("harpsichord", 7, 29, 89, 3),
               ("nylon guitar", 25, 40, 76, 3), ("steel guitar", 26, 40, 76, 3)]
# Register bounds for the summary's medians: bass below C3, treble from C5.
BASS_BELOW, TREBLE_FROM = 48, 72


def render_note(job):
    out, sf_path, name, program, note = job
    path = os.path.join(out, "notes", name + ".wav")
    if not os.path.exists(path):
        midi = os.path.join(out, "midi", name + ".mid")
        with open(midi, "wb") as f:
            f.write(render.midi_file(program, note, hold=HOLD))
        samples, channels = render.synthesise(sf_path, midi, GAIN, name)
        render.write_wav(path, samples, channels)


def render_all(out, soundfonts):
    settings = f"{soundfonts} gain={GAIN} hold={HOLD} lead={render.LEAD} " \
               f"tail={render.TAIL} velocity={render.VELOCITY}\n"
    stamp = os.path.join(out, "render-settings.txt")
    stale = not os.path.exists(stamp) or open(stamp).read() != settings
    for folder in ("midi", "notes"):
        os.makedirs(os.path.join(out, folder), exist_ok=True)
        for old in os.listdir(os.path.join(out, folder)) if stale else []:
            os.remove(os.path.join(out, folder, old))
    with open(stamp, "w") as f:
        f.write(settings)
    rows, jobs = [], []
    for font, sf_path in soundfonts:
        for instrument, program, low, high, step in INSTRUMENTS:
            for note in range(low, high + 1, step):
                name = f"{font}_{program:03d}-{instrument.replace(' ', '-')}_" \
                       f"{note:03d}-{render.note_name(note).replace('#', 's')}"
                jobs.append((out, sf_path, name, program, note))
                rows.append([f"notes/{name}.wav", instrument, font, render.note_name(note), note])
    with Pool(2) as pool:
        pool.map(render_note, jobs, chunksize=1)
    with open(os.path.join(out, "manifest.csv"), "w", newline="") as f:
        writer = csv.writer(f, lineterminator="\n")
        writer.writerow(["file", "instrument", "font", "note", "midi"])
        writer.writerows(rows)
    print(f"{len(jobs)} notes in {out}/notes")


def results(out):
    """One row per note: its tone with the most passes, its B and its
    partials above the noise (empty when the tone has no partials)."""
    with open(os.path.join(out, "partials.json")) as f:
        recordings = {os.path.join(*r["file"].split("/")[-2:]): r
                      for r in json.load(f)["recordings"]}
    with open(os.path.join(out, "manifest.csv"), newline="") as f:
        manifest = list(csv.DictReader(f))
    rows = []
    for note in manifest:
        tone = measured(recordings.get(note["file"], {}))
        b = (tone or {}).get("inharmonicity") or {}
        partials = (tone or {}).get("partials")  # null: no pass long enough
        rows.append({"instrument": note["instrument"], "font": note["font"],
                     "note": note["note"], "midi": int(note["midi"]),
                     "b": b.get("b"), "b_uncertainty": b.get("b_uncertainty"),
                     "partials_above_noise": None if partials is None else
                     sum(not p["below_noise"] for p in partials)})
    return rows


def plot(rows, path):
    import matplotlib
    matplotlib.use("Agg")
    import matplotlib.pyplot as plt

    colours = dict(zip([i[0] for i in INSTRUMENTS], ["#1f77b4", "#d62728", "#2ca02c", "#ff7f0e"]))
    markers = dict(zip(sorted({r["font"] for r in rows}), ["o", "s", "^", "D"]))
    floor = 1e-6  # B at or below it (harmonic partials) is drawn on this line
    fig, ax = plt.subplots(figsize=(9, 5), dpi=90)
    for instrument, font in ((i, f) for i in colours for f in markers):
        group = [r for r in rows if r["instrument"] == instrument and r["font"] == font
                 and r["b"] is not None]
        if not group:
            continue
        offset = 0.25 if markers[font] == "s" else -0.25  # keeps the fonts side by side
        x = [r["midi"] + offset for r in group]
        y = [max(r["b"], floor) for r in group]
        # Whiskers B ± its uncertainty, cut at the floor.
        err = [r["b_uncertainty"] or 0.0 for r in group]
        low = [yi - max(r["b"] - e, floor) for r, yi, e in zip(group, y, err)]
        high = [max(r["b"] + e, floor) - yi for r, yi, e in zip(group, y, err)]
        ax.errorbar(x, y, yerr=[low, high], fmt=markers[font], color=colours[instrument],
                    ms=5, mfc="none" if markers[font] == "s" else colours[instrument],
                    elinewidth=0.8, capsize=0, label=f"{instrument}, {font}")
    ax.set_yscale("log")
    ax.set_ylim(floor / 1.5, 1e-1)
    ax.axhline(floor, color="0.6", lw=0.6, ls=":")
    ax.text(20, floor * 1.12, f"B ≤ {floor:g} or negative", fontsize=7, color="0.4")
    ticks = list(range(24, 109, 12))
    ax.set_xticks(ticks, [render.note_name(t) for t in ticks])
    ax.set_xlim(19, 110)
    ax.set_xlabel("note")
    ax.set_ylabel("inharmonicity B")
    ax.set_title("B of sampled strings (toneprint-batch --partials --robust)", fontsize=10)
    ax.grid(True, which="major", color="0.9")
    ax.legend(fontsize=7, ncol=2, loc="upper left")
    fig.tight_layout()
    fig.savefig(path)


def summary(rows):
    def median(values):
        return f"{statistics.median(values):.1e}" if values else "–"

    lines = [f"Median B by register: bass below {render.note_name(BASS_BELOW)}, treble "
             f"from {render.note_name(TREBLE_FROM)} (n: notes with B).", "",
             "| instrument | font | notes | with partials | with B | bass | middle | treble |",
             "|---|---|---|---|---|---|---|---|"]
    for instrument in [i[0] for i in INSTRUMENTS]:
        for font in sorted({r["font"] for r in rows}) + ["all"]:
            group = [r for r in rows if r["instrument"] == instrument
                     and font in ("all", r["font"])]
            with_b = [r for r in group if r["b"] is not None]
            cells = []
            for low, high in ((0, BASS_BELOW), (BASS_BELOW, TREBLE_FROM), (TREBLE_FROM, 128)):
                values = [r["b"] for r in with_b if low <= r["midi"] < high]
                cells.append(f"{median(values)} (n {len(values)})")
            lines.append(f"| {instrument} | {font} | {len(group)} | "
                         f"{sum(r['partials_above_noise'] is not None for r in group)} | "
                         f"{len(with_b)} | " + " | ".join(cells) + " |")
    return "\n".join(lines) + "\n"


def main():
    if len(sys.argv) >= 4 and sys.argv[1] == "render":
        fonts = [s.split("=", 1) for s in sys.argv[3:]]
        if any(len(f) != 2 or not os.path.isfile(f[1]) for f in fonts):
            sys.exit(f"each sound font must be NAME=FILE of an existing file: {sys.argv[3:]}")
        render_all(sys.argv[2], fonts)
    elif len(sys.argv) == 3 and sys.argv[1] == "report":
        out = sys.argv[2]
        rows = results(out)
        with open(os.path.join(out, "inharmonicity.csv"), "w", newline="") as f:
            writer = csv.DictWriter(f, list(rows[0]), lineterminator="\n")
            writer.writeheader()
            writer.writerows(rows)
        plot(rows, os.path.join(out, "inharmonicity.png"))
        text = summary(rows)
        with open(os.path.join(out, "summary.md"), "w") as f:
            f.write(text)
        print(text)
        print(f"Per note: {out}/inharmonicity.csv; the picture: {out}/inharmonicity.png")
    else:
        sys.exit(__doc__.split("\n\n")[1])


if __name__ == "__main__":
    main()
