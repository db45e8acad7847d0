"""Tones judged against a target: the expected notes, the deviations, the
octave guard's checks and the best-fitting A4 are toneprint-batch's JSON's
for the same file and options, from the file and from its samples."""

import json
import subprocess
import warnings

import numpy as np
import pytest

import toneprint
from conftest import RATE, read_wave, synth, write_wave

# Keywords of the module and the options of toneprint-batch that give them.
OPTIONS = {"expect": "--expect", "temperament": "--temperament",
           "temperament_root": "--temperament-root", "stretch": "--stretch", "a4": "--a4"}


def batch_options(keywords):
    options = ["--robust"] if keywords.get("robust") else []
    for name, value in keywords.items():
        if name in OPTIONS:
            text = ",".join(map(str, value)) if isinstance(value, list) else str(value)
            options += [OPTIONS[name], text]
    return options


def targets(tones):
    return [(t.expected_note, t.expected_hz, t.expected_from, t.deviation_cents,
             t.octave_check and (t.octave_check.found_hz, t.octave_check.expected_hz,
                                 t.octave_check.taken, t.octave_check.evidence), t.split_from)
            for t in tones]


def batch_targets(entry):
    return [(t.get("expected_note"), t.get("expected_hz"), t.get("expected_from"),
             t.get("deviation_cents"),
             (c := t.get("octave_check")) and (c["found_hz"], c["expected_hz"], c["taken"],
                                               c["evidence"]), t.get("split_from"))
            for t in entry["tones"]]


def legato():
    """C4 then E4 then G4 joined without a silence: one tone until split."""
    notes = [synth([(f, 0.8)], gap=0.0)[int(0.25 * RATE):] for f in (261.63, 329.63, 392.0)]
    return np.concatenate([np.zeros(RATE // 4, np.int16), *notes, np.zeros(RATE // 2, np.int16)])


@pytest.fixture(scope="module")
def files(tmp_path_factory):
    folder = tmp_path_factory.mktemp("targets")
    (folder / "fifths.scl").write_text("! fifths.scl\nTwo pure fifths\n2\n3/2\n2/1\n")
    return {"mono": write_wave(folder / "mono.wav", synth()),
            # Named an octave below the A3 it holds: the guard checks it.
            "named": write_wave(folder / "Piano_A2.wav", synth([(220.0, 1.2)])),
            "legato": write_wave(folder / "legato.wav", legato()),
            "scale": folder / "fifths.scl"}


@pytest.fixture(scope="module")
def batch_document(batch_binary):
    """toneprint-batch's JSON document for one file."""
    def run(path, *options):
        done = subprocess.run([batch_binary, "--format", "json", "-q", *options, str(path)],
                              capture_output=True, text=True, timeout=60, check=False)
        assert done.returncode == 0, done.stderr
        return json.loads(done.stdout)
    return run


@pytest.mark.parametrize("name, keywords", [
    ("mono", {}),
    ("mono", {"expect": ["A3", "C4", "E4", "C4", "A6", "G2"],
              "temperament": "werckmeister-iii", "a4": 415}),
    ("mono", {"expect": ["A3", 60, "E4"], "robust": True}),
    ("mono", {"temperament": "vallotti", "temperament_root": "F#", "stretch": 3.5}),
    ("mono", {"temperament": "scale", "temperament_root": "A"}),
    ("named", {"expect": "filename", "robust": True}),
    ("named", {"expect": "A2", "partials": True}),
    ("legato", {"expect": "C4,E4,G4", "robust": True, "temperament": "just"}),
])
def test_targets_and_best_reference_are_the_batch_programs(name, keywords, files,
                                                            batch_document):
    path = files[name]
    if keywords.get("temperament") == "scale":
        keywords = {**keywords, "temperament": str(files["scale"])}
    options = batch_options(keywords) + (["--partials"] if keywords.get("partials") else [])
    document = batch_document(path, *options)
    (entry,) = document["recordings"]
    expected = batch_targets(entry)
    with warnings.catch_warnings():
        warnings.simplefilter("ignore")  # notes left over, as the batch warns
        from_file = toneprint.analyse_file(path, **keywords)
        assert targets(from_file) == expected
        if keywords.get("expect") != "filename":
            samples, rate = read_wave(path)
            assert targets(toneprint.analyse(samples, rate, **keywords)) == expected

    tuning = {k: v for k, v in keywords.items() if k in OPTIONS and k != "expect"}
    best = toneprint.best_reference(from_file, **tuning)
    if "tuning" in document:
        reference = document["best_reference"]
        if reference is None:  # every tone a wrong octave from its note
            assert best is None
        else:
            assert (best.a4_hz, best.interval_hz, best.tones) == (
                reference["a4_hz"], reference["interval_hz"], reference["tones"])
    else:  # no target asked for: no tone is judged
        assert all(t[:5] == (None,) * 5 for t in targets(from_file))
        assert best.tones == sum(t.measured for t in from_file)


@pytest.mark.parametrize("keywords, error, message", [
    ({"expect": "C4,H4"}, ValueError, 'expect: entry 2: "H4" is not a note'),
    ({"expect": ["C4", 128]}, ValueError, "expect: entry 2: 128 is not a note name or a MIDI"),
    ({"expect": [True]}, ValueError, "expect: entry 1: True is not"),
    ({"expect": []}, ValueError, "expect: no notes given"),
    ({"expect": "@/no/such/notes.txt"}, ValueError, "expect: .*/no/such/notes.txt"),
    ({"expect": "filename"}, ValueError, "expect: 'filename' takes the notes from a recording file"),
    ({"expect": "smpl"}, ValueError, "expect: 'smpl' takes the notes from a recording file"),
    ({"expect": 60}, TypeError, "expect must be a list of notes"),
    ({"temperament": "werckmeister-ii"}, ValueError, "temperament: .*werckmeister-iii"),
    ({"temperament": "/no/such/scale.scl"}, ValueError, "temperament: .*/no/such/scale.scl"),
    ({"temperament": 3}, TypeError, "temperament must be the name"),
    ({"temperament_root": "H"}, ValueError, "temperament_root: 'H' is not a note name"),
    ({"temperament_root": "C4"}, ValueError, "temperament_root: 'C4' is not a note name"),
    ({"stretch": 50.5}, ValueError, "stretch: 50.5 is outside its bounds, -50 to 50"),
    ({"stretch": float("nan")}, ValueError, "stretch: nan is outside its bounds"),
    ({"stretch": "1"}, TypeError, "stretch must be a number"),
])
def test_a_bad_target_is_refused_naming_the_entry_or_bound(keywords, error, message):
    with pytest.raises(error, match=message):
        toneprint.analyse(synth([(220.0, 1.2)]), RATE, **keywords)


def test_best_reference_takes_only_tones_and_a_tuning():
    tones = toneprint.analyse(synth([(220.0, 1.2)]), RATE)
    assert toneprint.best_reference(tones[:0]) is None
    with pytest.raises(TypeError, match="list of Tone objects"):
        toneprint.best_reference([tones[0], 220.0])
    with pytest.raises(ValueError, match="a4: 50 is outside its bounds"):
        toneprint.best_reference(tones, a4=50)


@pytest.mark.parametrize("expect, warning, sources", [
    ("A3,A2", "the 2 expected notes end before tone 3", ["expectation"] * 2 + ["nearest"]),
    ("A3,A2,G4,B4", "1 of the 4 expected notes were left over: the recording has 3 tones",
     ["expectation"] * 3),
])
def test_a_list_that_does_not_fit_the_tones_is_warned_of(expect, warning, sources):
    samples = synth([(220.0, 1.2), (110.0, 1.2), (392.0, 1.2)])
    with pytest.warns(UserWarning, match=warning):
        tones = toneprint.analyse(samples, RATE, expect=expect)
    assert [t.expected_from for t in tones] == sources
