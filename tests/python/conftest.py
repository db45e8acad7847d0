"""Shared pieces of the module's tests: synthetic recordings written with the
stdlib wave module, toneprint-batch's JSON for a file, and tones reduced to
plain records that compare with == (NaN and null both as None)."""

import json
import math
import os
import pathlib
import subprocess
import wave

import numpy as np
import pytest

RATE = 44100
# (Hz, or None for noise; seconds). The noise gives failed passes, the 0.3 s
# tone is too short for a pass, and A6's upper harmonics lie above the
# Nyquist limit once 20 are asked for.
NOTES = [(220.0, 1.2), (None, 1.2), (329.63, 1.4), (261.63, 0.3), (1760.0, 1.0), (98.0, 1.6)]


def synth(notes=NOTES, rate=RATE, gap=0.6):
    """Tones of eight partials, and noise, between silences: int16."""
    noise = np.random.default_rng(1)
    parts = [np.zeros(int(0.25 * rate))]
    for frequency, seconds in notes:
        t = np.arange(int(seconds * rate)) / rate
        envelope = np.minimum(1.0, np.minimum(t / 0.02, (seconds - t) / 0.05))
        if frequency is None:
            tone = noise.standard_normal(t.size)
        else:
            tone = sum(0.6**k * np.sin(2 * np.pi * frequency * (k + 1) * t + k) for k in range(8))
        parts += [12000.0 * envelope * tone / np.max(np.abs(tone)), np.zeros(int(gap * rate))]
    return np.round(np.concatenate(parts)).astype(np.int16)


def plucked(frequency, decay, seconds=1.5, rate=RATE):
    """A plucked tone, loud for too short a time to measure without following its tail."""
    t = np.arange(int(seconds * rate)) / rate
    tone = sum(0.6**k * np.sin(2 * np.pi * frequency * (k + 1) * t) for k in range(6))
    return 20000.0 * np.exp(-t / decay) * np.minimum(1.0, t / 0.005) * tone / np.max(np.abs(tone))


def short_tones(rate=RATE):
    """A plucked A3, then a G4 of 0.45 s: each needs a robust change to be measured."""
    return np.concatenate([np.zeros(rate // 4), np.round(plucked(220.0, 0.2, rate=rate)),
                           np.zeros(rate // 2), synth([(392.0, 0.45)], rate)]).astype(np.int16)


def stereo(rate=RATE):
    """G3 then A4 on the left, D4 then D5 on the right: (frames, 2) int16."""
    left = synth([(196.0, 1.2), (440.0, 1.2)], rate)
    return np.stack([left, synth([(293.66, 1.2), (587.33, 1.2)], rate)], axis=1)


# A stiff string's C3: partial n at n F sqrt(1 + B n^2), at these levels
# (dB of partial 1); partial 7 is left out.
STIFF_F, STIFF_B = 130.8128, 5e-4
STIFF_LEVELS = [0, -4, -7, -9, -12, -14, None, -18, -21, -24, -27, -30]


def stiff_string(seconds=2.0, rate=RATE):
    """The stiff string between silences, in a little noise (RMS 3): int16."""
    rng = np.random.default_rng(3)
    t = np.arange(int(seconds * rate)) / rate
    tone = sum(10000 * 10 ** (level / 20) * np.sin(2 * np.pi * stiff_partial(n) * t
                                                    + rng.uniform(0, 2 * np.pi))
               for n, level in enumerate(STIFF_LEVELS, 1) if level is not None)
    tone *= np.minimum(1.0, np.minimum(t, seconds - t) / 0.01)
    x = np.concatenate([np.zeros(rate // 4), tone, np.zeros(rate // 2)])
    return np.round(x + rng.normal(0, 3, x.size)).astype(np.int16)


def stiff_partial(n):
    return n * STIFF_F * np.sqrt(1 + STIFF_B * n * n)


def vibrato_tone(seconds=1.6, rate=RATE):
    """An A4 of six harmonics with a vibrato of +-20 cents at 5.5 Hz: int16."""
    t = np.arange(int(seconds * rate)) / rate
    cycles = np.cumsum(440.0 * 2 ** (20 / 1200 * np.sin(2 * np.pi * 5.5 * t))) / rate
    tone = sum(0.5**k * np.sin(2 * np.pi * (k + 1) * cycles) for k in range(6))
    tone *= np.minimum(1.0, np.minimum(t, seconds - t) / 0.01)
    return np.round(np.concatenate([12000 * tone, np.zeros(rate // 2)])).astype(np.int16)


def write_wave(path, samples, rate=RATE):
    samples = np.asarray(samples, dtype="<i2")
    with wave.open(str(path), "wb") as out:
        out.setnchannels(1 if samples.ndim == 1 else samples.shape[1])
        out.setsampwidth(2)
        out.setframerate(rate)
        out.writeframes(samples.tobytes())
    return pathlib.Path(path)


def read_wave(path):
    """A 16-bit WAVE file's samples, (frames,) or (frames, channels), and rate."""
    with wave.open(str(path), "rb") as recording:
        assert recording.getsampwidth() == 2
        samples = np.frombuffer(recording.readframes(recording.getnframes()), dtype="<i2")
        channels, rate = recording.getnchannels(), recording.getframerate()
    return (samples if channels == 1 else samples.reshape(-1, channels)), rate


def _none_if_nan(value):
    return None if value is None or math.isnan(value) else value


def _none_for_nan(values):
    return [_none_if_nan(value) for value in values]


def _partials(tone):
    """The partials analysis's fields of a module Tone as plain data."""
    b, vibrato = tone.inharmonicity, tone.vibrato
    return {
        "partials": None if tone.partials is None else [
            (p.number, p.frequency_hz, p.cents_from_harmonic, p.amplitude, p.level_db,
             p.below_noise) for p in tone.partials],
        "inharmonicity": b and (_none_if_nan(b.b), b.b_uncertainty, b.b_uncertainty_from),
        "vibrato": vibrato and (_none_if_nan(vibrato.rate_hz), _none_if_nan(vibrato.extent_cents)),
    }


def _batch_partials(tone):
    """The same from a tone of toneprint-batch's JSON (absent without --partials)."""
    b, vibrato, partials = tone.get("inharmonicity"), tone.get("vibrato"), tone.get("partials")
    return {
        "partials": None if partials is None else [
            (p["number"], p["frequency_hz"], p["cents_from_harmonic"], p["amplitude"],
             p["level_db"], p["below_noise"]) for p in partials],
        "inharmonicity": b and (b["b"], b["b_uncertainty"], b["b_uncertainty_from"]),
        "vibrato": vibrato and (vibrato["rate_hz"], vibrato["extent_cents"]),
    }


DESCRIPTORS = ["harmonics_used", "centroid_hz", "centroid_harmonic", "odd_even_db", "t1", "t2",
               "t3", "slope_db_per_octave"]


def _descriptors(descriptors):
    """A Descriptors object as the batch JSON's object, None as null."""
    if descriptors is None:
        return None
    return {name: getattr(descriptors, name) for name in DESCRIPTORS}


def records(tones):
    """Module Tone objects as plain data."""
    return [{
        "start": t.start, "end": t.end, "start_sample": t.start_sample,
        "end_sample": t.end_sample, "frequency": t.frequency, "note": t.note, "cents": t.cents,
        "spread_cents": t.spread_cents, "max_fundamental": t.max_fundamental,
        "harmonics": _none_for_nan(t.harmonics.tolist()),
        "passes": [(p.time, p.fundamental, _none_for_nan(p.amplitudes.tolist()), p.used)
                   for p in t.passes],
        "failed": [(f.time, f.failure, f.message) for f in t.failed],
        "descriptors": _descriptors(t.descriptors),
        **_partials(t),
    } for t in tones]


def batch_records(entry):
    """The tones of a recording in toneprint-batch's JSON as the same data."""
    unmeasured = [None] * (entry["settings"]["harmonics"] + 1)
    return [{
        "start": t["start_s"], "end": t["end_s"], "start_sample": t["start_sample"],
        "end_sample": t["end_sample"], "frequency": t.get("frequency_hz"), "note": t.get("note"),
        "cents": t.get("cents"), "spread_cents": t.get("spread_cents"),
        "max_fundamental": t.get("max_fundamental"),
        "harmonics": t.get("harmonics", unmeasured),
        "passes": [(p["time_s"], p["fundamental_hz"], p["amplitudes"], p["used"])
                   for p in t["measured"]],
        "failed": [(f["time_s"], f["failure"], f["message"]) for f in t["failed"]],
        "descriptors": t.get("descriptors"),
        **_batch_partials(t),
    } for t in entry["tones"]]


@pytest.fixture(scope="session")
def source_dir():
    return pathlib.Path(os.environ["TONEPRINT_SOURCE_DIR"])


@pytest.fixture(scope="session")
def demo(source_dir):
    return source_dir / "demo" / "demo.wav"


@pytest.fixture(scope="session")
def batch_binary():
    return os.environ["TONEPRINT_BATCH_BINARY"]


@pytest.fixture(scope="session")
def batch(batch_binary):
    """Runs toneprint-batch --format json -q on one file: its recording entry."""
    def run(path, *options):
        done = subprocess.run([batch_binary, "--format", "json", "-q", *options, str(path)],
                              capture_output=True, text=True, timeout=60, check=False)
        assert done.returncode == 0, done.stderr
        (entry,) = json.loads(done.stdout)["recordings"]
        assert "error" not in entry, entry["error"]
        return entry
    return run


@pytest.fixture(scope="session")
def recordings(tmp_path_factory):
    folder = tmp_path_factory.mktemp("recordings")
    return {"mono": write_wave(folder / "mono.wav", synth()),
            "stereo": write_wave(folder / "stereo.wav", stereo()),
            "low_rate": write_wave(folder / "low_rate.wav", synth(rate=22050), 22050),
            "short": write_wave(folder / "short.wav", short_tones()),
            "partials": write_wave(folder / "partials.wav",
                                   np.concatenate([stiff_string(), vibrato_tone()]))}
