"""compare() gives toneprint-batch compare's rows, for a set given as Tone
objects, as a recording, as a folder or as a file of toneprint-batch's
results, and refuses what is not a set."""

import csv
import io
import json
import subprocess

import pytest

import toneprint
from conftest import synth, write_wave

# The columns of toneprint-batch compare's CSV and the records' keys for them.
COLUMNS = ["note", "set", "harmonic", "level_db", "difference_db", "relative_to", "spread_db",
           "tones"]


@pytest.fixture(scope="module")
def takes(tmp_path_factory):
    """A take of three notes, the same at half the amplitude, and a folder
    holding the second take in two files."""
    folder = tmp_path_factory.mktemp("takes")
    # Peaks of 24000 and 12000: both above the default silence threshold.
    quiet = synth([(220.0, 1.2), (329.63, 1.4), (392.0, 1.2)])
    loud = 2 * quiet
    split = folder / "split"
    split.mkdir()
    half = int(1.75 * 44100)  # in the silence after the first tone
    return {"loud": write_wave(folder / "loud.wav", loud),
            "quiet": write_wave(folder / "quiet.wav", quiet),
            "folder": split,
            "parts": (write_wave(split / "a.wav", quiet[:half]),
                      write_wave(split / "b.wav", quiet[half:]))}


def batch_rows(batch_binary, *sets):
    done = subprocess.run([batch_binary, "compare", "-q", "-f", "csv", *map(str, sets)],
                          capture_output=True, text=True, check=True)
    table = done.stdout.split("\n\n")[0]
    return list(csv.DictReader(io.StringIO(table)))


def as_cells(record):
    """A record as toneprint-batch writes its row: numbers to two decimals,
    a negative zero without its sign."""
    cells = {}
    for name in COLUMNS:
        value = record[name]
        if value is None:
            cells[name] = ""
        elif isinstance(value, float):
            cells[name] = f"{value:.2f}".replace("-0.00", "0.00")
        else:
            cells[name] = str(value)
    return cells


def test_records_are_the_batch_programs_rows(takes, batch_binary):
    records = toneprint.compare([takes["loud"], takes["quiet"]])
    rows = batch_rows(batch_binary, takes["loud"], takes["quiet"])
    assert [as_cells(r) for r in records] == [{k: row[k] for k in COLUMNS} for row in rows]
    assert {r["set"] for r in records} == {str(takes["loud"]), str(takes["quiet"])}
    # Half the amplitude: the fundamental 6 dB lower, the timbre the same
    # (over the eight partials the takes have: above them lies only the
    # samples' rounding).
    first = {(r["note"], r["harmonic"]): r["difference_db"] for r in records
             if r["set"] == str(takes["quiet"])}
    assert first[("A3", 1)] == pytest.approx(-6.02, abs=0.01)
    assert all(d == pytest.approx(0.0, abs=0.01) for (_, k), d in first.items() if 1 < k <= 8)


def test_every_kind_of_set_gives_the_same_numbers(takes, batch_binary, tmp_path):
    stored = tmp_path / "quiet.json"
    subprocess.run([batch_binary, "-q", "-f", "json", "-o", str(stored), str(takes["quiet"])],
                   check=True)
    tones = toneprint.analyse_file(takes["quiet"])
    numbers = lambda records: [(r["note"], r["harmonic"], r["level_db"], r["difference_db"])
                               for r in records]
    by_path = numbers(toneprint.compare([takes["loud"], takes["quiet"]]))
    assert by_path == numbers(toneprint.compare([takes["loud"], tones]))
    assert by_path == numbers(toneprint.compare([takes["loud"], stored]))
    # Cut in a silence, the take is the folder's two files: the same notes,
    # measured from other sample positions.
    folder = numbers(toneprint.compare([takes["loud"], takes["folder"]]))
    assert [r[:2] for r in folder] == [r[:2] for r in by_path]
    assert [r[2:] for r in folder] == [pytest.approx(r[2:], abs=0.05) for r in by_path]
    named = toneprint.compare([takes["loud"], tones], names=["before", "after"])
    assert {r["set"] for r in named} == {"before", "after"}


@pytest.mark.parametrize("sets, names, error, words", [
    (lambda t: [t["loud"]], None, ValueError, "at least two sets"),
    (lambda t: [t["loud"], 3], None, TypeError, "a list of Tone objects or a path"),
    (lambda t: [t["loud"], [1.0]], None, TypeError, "Tone objects"),
    (lambda t: [t["loud"], t["quiet"]], ["one"], ValueError, "1 names for 2 sets"),
    (lambda t: [t["loud"], t["older"]], None, toneprint.ReadError, "older layout"),
    (lambda t: [t["loud"], t["loud"].with_name("absent.wav")], None, toneprint.ReadError,
     "absent.wav"),
])
def test_what_is_not_a_set_is_refused(takes, tmp_path, sets, names, error, words):
    older = tmp_path / "older.json"
    older.write_text(json.dumps({"program": "toneprint-batch", "version": "0.1.0",
                                 "recordings": []}))
    with pytest.raises(error, match=words):
        toneprint.compare(sets({**takes, "older": older}), names=names)
