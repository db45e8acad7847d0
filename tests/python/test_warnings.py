"""Doubtful results come as warnings, with the lines toneprint-batch prints
on standard error (without its prefix and the file's name)."""

import os
import subprocess
import warnings

import numpy as np
import pytest

import toneprint
from conftest import RATE, synth, write_wave


def test_the_doubts_are_warnings_with_the_programs_lines(tmp_path):
    path = write_wave(tmp_path / "take.wav", synth())
    out = str(tmp_path / "o.csv")
    batch = subprocess.run([os.environ["TONEPRINT_BATCH_BINARY"], "-q", "-o", out, str(path)],
                           capture_output=True, text=True, check=True)
    expected = [line.split(": ", 2)[2] for line in batch.stderr.splitlines()]
    assert any("too short to measure" in line for line in expected)
    assert any("passes failed" in line or "pass failed" in line for line in expected)
    for call in (lambda: toneprint.analyse_file(path), lambda: toneprint.analyse(synth(), RATE)):
        with pytest.warns(UserWarning) as caught:
            call()
        assert [str(w.message) for w in caught] == expected


def test_clean_tones_give_no_warning():
    with warnings.catch_warnings():
        warnings.simplefilter("error")
        toneprint.analyse(synth([(220.0, 1.2)]), RATE)
