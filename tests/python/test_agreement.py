"""The module's numbers are toneprint-batch's to the last bit, for a file and
for the same file's samples as an array."""

import subprocess

import numpy as np
import pytest

import toneprint
from conftest import RATE, batch_records, read_wave, records, short_tones


ROBUST_CHANGES = ["follow_tail", "short_attack", "check_vote", "consensus", "relative_threshold",
                  "split_legato"]


def batch_options(keywords):
    options = []
    for name, value in keywords.items():
        if name == "partials":
            options += ["--partials"] if value else []
        elif name != "robust":
            options += [f"--{name}".replace("_", "-"), str(value)]
        else:
            changes = ["robust"] if value is True else value
            options += [f"--{change}".replace("_", "-") for change in changes]
    return options


@pytest.mark.parametrize("name, keywords", [
    ("demo", {}),
    ("demo", {"robust": True}),
    ("demo", {"robust": ["consensus", "check_vote"], "harmonics": 3}),
    ("mono", {}),
    ("mono", {"harmonics": 20, "a4": 415, "fft_size": 8192}),
    ("mono", {"hop": 512, "fft_size": 2048, "min_tone": 0.5, "attack": 0.1, "threshold": 2000.5,
              "peaks": 3, "peak_threshold": 20, "min_cycles": 8, "max_extra": 0.01,
              "max_cycle_fraction": 0.05, "silence": 0.3}),
    ("stereo", {}),
    ("stereo", {"channel": 1}),
    ("stereo", {"channel": 2, "harmonics": 0}),
    ("low_rate", {"harmonics": 15}),
    *[("short", {"robust": [change]}) for change in ROBUST_CHANGES],
    ("demo", {"partials": True}),
    ("partials", {"partials": True, "harmonics": 11}),
    ("partials", {"partials": True, "robust": True}),
    ("stereo", {"partials": True, "channel": 2, "harmonics": 3}),
])
def test_file_and_array_agree_with_the_batch_program(name, keywords, recordings, demo, batch):
    path = demo if name == "demo" else recordings[name]
    entry = batch(path, *batch_options(keywords))
    expected = batch_records(entry)
    assert expected
    # With partials, some tone has them; without, none has.
    assert any(t["partials"] for t in expected) == keywords.get("partials", False)
    # Every measured tone has its timbre descriptors to agree on.
    assert all(t["descriptors"] for t in expected if t["frequency"] is not None)

    from_file = toneprint.analyse_file(path, **keywords)
    assert records(from_file) == expected
    samples, rate = read_wave(path)
    assert records(toneprint.analyse(samples, rate, **keywords)) == expected

    if "robust" not in keywords:  # the robust mode may lower the threshold it writes
        given = {k: v for k, v in keywords.items() if k not in ("a4", "channel", "partials")}
        assert toneprint.Settings(rate, **given).as_dict() == entry["settings"]
    for tone in from_file:
        assert tone.measured == (tone.frequency is not None)
        assert all(p.time == p.sample / rate for p in tone.passes + tone.failed)


def test_the_synthetic_recording_holds_every_kind_of_result(recordings):
    tones = toneprint.analyse_file(recordings["mono"], harmonics=20)
    assert [tone.note for tone in tones] == ["A3", None, "E4", None, "A6", "G2"]
    assert tones[1].failed and not tones[1].passes  # noise
    assert not tones[3].failed and not tones[3].passes  # too short for a pass
    above_nyquist = 1760.0 * np.arange(1, 22) > 22050  # A6 and its harmonics
    assert list(np.isnan(tones[4].harmonics)) == list(above_nyquist)


@pytest.mark.parametrize("robust, notes", [
    (False, [None, None]), (["follow_tail"], ["A3", None]), (["short_attack"], [None, "G4"]),
    (True, ["A3", "G4"]),
])
def test_each_robust_change_asked_for_is_made(robust, notes):
    tones = toneprint.analyse(short_tones(), RATE, robust=robust)
    assert [tone.note for tone in tones] == notes


def test_the_version_is_the_programs(batch_binary):
    shown = subprocess.run([batch_binary, "--version"], capture_output=True, text=True,
                           timeout=30, check=True).stdout
    assert shown.split("\n")[0] == f"toneprint-batch {toneprint.__version__}"
