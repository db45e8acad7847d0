"""The settings as keywords and as Settings: bounds, types, defaults by sample
rate, the help that describes them, and the type stub."""

import ast
import math
import pydoc
import re

import numpy as np
import pytest

import toneprint
from conftest import RATE, records, synth, write_wave

# name: (whole, minimum, maximum), as the analysis bounds them; a hop may be
# as long as the longest FFT.
BOUNDS = {
    "harmonics": (True, 0, 50), "min_tone": (False, 0.05, 30.0), "attack": (False, 0.0, 10.0),
    "peak_threshold": (True, 1, 150), "silence": (False, 0.1, 10.0), "hop": (True, 1, 16384),
    "threshold": (False, 1.0, 10000.0), "min_cycles": (True, 1, 100),
    "max_extra": (False, 0.0, 1.0), "max_cycle_fraction": (False, 0.0001, 1.0),
    "peaks": (True, 1, 20),
}
NAMES = [*list(BOUNDS)[:5], "fft_size", *list(BOUNDS)[5:]]
EMPTY = np.zeros((0, 2), np.int16)
# The keywords that ask for a target, in the signatures' order.
TARGET = ["expect", "temperament", "temperament_root", "stretch"]


class FailingIndex:
    """A whole number whose __index__ raises: its error is the caller's."""

    def __index__(self):
        raise LookupError("the index's own error")


@pytest.mark.parametrize("name", BOUNDS)
def test_bounds_are_taken_and_just_outside_them_refused(name):
    whole, low, high = BOUNDS[name]
    for value in (low, high):
        settings = toneprint.Settings(RATE, **{name: value}, fft_size=16384)
        assert getattr(settings, name) == value
        assert type(getattr(settings, name)) is (int if whole else float)
    outside = [low - 1, high + 1, 2**70] if whole else [
        math.nextafter(low, -math.inf), math.nextafter(high, math.inf), math.nan]
    bounds = re.escape(f"outside its bounds, {low:g} to {high:g}")
    for value in outside:
        with pytest.raises(ValueError, match=f"^{name}: .* {bounds}$"):
            toneprint.Settings(RATE, **{name: value})
        with pytest.raises(ValueError, match=f"^{name}: .* {bounds}$"):
            toneprint.analyse(EMPTY, RATE, **{name: value})


@pytest.mark.parametrize("name", NAMES)
def test_wrong_types_raise_type_error(name):
    whole = name == "fft_size" or BOUNDS[name][0]
    for value in [True, "1", [1]] + ([2.5, 4096.0] if whole else []):
        with pytest.raises(TypeError, match=name):
            toneprint.Settings(RATE, **{name: value})
    if not whole:  # a real setting takes any real number
        assert getattr(toneprint.Settings(RATE, **{name: np.float32(1)}), name) == 1.0


@pytest.mark.parametrize("keywords, error, message", [
    ({"harmonic": 3}, TypeError, "^unknown setting 'harmonic'; the settings are " +
     ", ".join(NAMES) + ", a4, channel, robust, partials, expect, temperament, "
     "temperament_root and stretch$"),
    ({"fft_size": 3000}, ValueError, "fft_size: 3000 is not 2048, 4096, 8192 or 16384"),
    ({"fft_size": 2048, "hop": 2049}, ValueError, "hop: 2049 is longer than the FFT size 2048$"),
    ({"hop": 8193}, ValueError,
     "hop: 8193 is longer than the FFT size 8192 used at 44100 Hz; give fft_size too$"),
    ({"a4": 99.99}, ValueError, "a4: 99.99 is outside its bounds, 100 to 1000"),
    ({"a4": math.nan}, ValueError, "100 to 1000"),
    # -1.0 is also what a failed conversion to a float gives: here it is a value.
    ({"threshold": -1.0}, ValueError, "^threshold: -1.0 is outside its bounds, 1 to 10000$"),
    ({"a4": "440"}, TypeError, "a4"),
    ({"channel": 0}, ValueError, "from 1 to 256"),
    ({"channel": 257}, ValueError, "from 1 to 256"),
    ({"channel": "left"}, ValueError, "neither mix nor a channel number"),
    ({"channel": 1.0}, TypeError, "channel"),
    ({"robust": "consensus"}, TypeError, "robust must be True, False or a collection"),
    ({"robust": 1}, TypeError, "robust"),
    ({"robust": ["consensus", "loud"]}, ValueError, "'loud' is none of"),
    ({"partials": 1}, TypeError, "^partials must be True or False$"),
    ({"harmonics": FailingIndex()}, LookupError, "^the index's own error$"),
    ({"channel": FailingIndex()}, LookupError, "^the index's own error$"),
])
def test_bad_keywords_are_refused(keywords, error, message, recordings):
    with pytest.raises(error, match=message):
        toneprint.analyse(EMPTY, RATE, **keywords)
    with pytest.raises(error, match=message):
        toneprint.analyse_file(recordings["mono"], **keywords)


@pytest.mark.parametrize("keywords", [
    {"a4": 100}, {"a4": 1000.0}, {"channel": "mix"}, {"channel": np.int64(2)},
    {"robust": False}, {"robust": {"consensus", "check_vote"}}, {"robust": ()}, {"partials": True},
    {"fft_size": 2048, "hop": 2048}, *[{"fft_size": size} for size in (4096, 8192, 16384)],
])
def test_good_keywords_are_taken(keywords):
    assert toneprint.analyse(EMPTY, RATE, **keywords) == []


def test_the_last_channel_there_can_be_is_taken():
    assert toneprint.analyse(np.zeros((10, 256), np.int16), RATE, channel=256) == []


@pytest.mark.parametrize("rate", [8000, 22050, 22051, 44100, 96000])
def test_defaults_by_rate_are_the_batch_programs(rate, tmp_path, batch):
    written = batch(write_wave(tmp_path / "silence.wav", np.zeros(rate // 10, np.int16), rate))
    settings = toneprint.Settings(rate)
    assert settings.sample_rate == rate
    assert list(settings.as_dict()) == NAMES
    assert settings.as_dict() == written["settings"]
    assert settings.fft_size == (4096 if rate <= 22050 else 8192)
    assert toneprint.Settings(rate, **{name: None for name in NAMES}) == settings


def test_as_dict_gives_back_the_keywords_results():
    given = {"harmonics": 7, "fft_size": 2048, "hop": 512, "threshold": 1500.5, "attack": 0.15}
    settings = toneprint.Settings(RATE, **given)
    assert toneprint.Settings(RATE, **settings.as_dict()) == settings != toneprint.Settings(RATE)
    found = records(toneprint.analyse(synth(), RATE, **settings.as_dict()))
    assert found == records(toneprint.analyse(synth(), RATE, **given))
    assert len(found[0]["harmonics"]) == 8


@pytest.mark.parametrize("rate, error", [
    (0, ValueError), (-1, ValueError), (44100.5, ValueError), (2**32, ValueError),
    (math.inf, ValueError), ("44100", TypeError), (None, TypeError), (True, TypeError),
    (44100.0, None), (np.int64(44100), None), (np.float64(44100), None), (np.uint32(44100), None),
])
def test_sample_rate_is_a_positive_whole_number(rate, error):
    if error is None:
        assert toneprint.Settings(rate) == toneprint.Settings(44100)
        return
    for call in (toneprint.Settings, lambda r: toneprint.analyse(EMPTY, r)):
        with pytest.raises(error, match="sample_rate"):
            call(rate)


@pytest.mark.parametrize("documented", [toneprint.analyse, toneprint.Settings])
def test_the_help_gives_each_settings_default_and_bounds(documented):
    lines = re.findall(r"^    (\w+) \(default ([^,]+), (\S+) to ([^)]+)\)$", documented.__doc__,
                       re.MULTILINE)
    defaults = toneprint.Settings(RATE).as_dict()
    assert {name: tuple(map(float, numbers)) for name, *numbers in lines} == {
        name: (defaults[name], low, high) for name, (_, low, high) in BOUNDS.items()}
    assert "    fft_size (2048, 4096, 8192 or 16384" in documented.__doc__


@pytest.mark.parametrize("documented, names", [
    (toneprint.analyse, ["samples", "sample_rate", "a4", "channel", "robust", "partials",
                         *TARGET]),
    (toneprint.analyse_file, ["path", "a4", "channel", "robust", "partials", *TARGET,
                              "filename", "smpl", "ReadError"]),
    (toneprint.best_reference, ["tones", "a4", *TARGET[1:]]),
    (toneprint.Settings.__init__, ["sample_rate"]), (toneprint.ReadError, ["tones"]),
    *[(cls, [n for n in dir(cls) if not n.startswith("_")])
      for cls in (toneprint.Tone, toneprint.Pass, toneprint.FailedPass, toneprint.Settings,
                  toneprint.Partial, toneprint.Inharmonicity, toneprint.Vibrato,
                  toneprint.OctaveCheck, toneprint.BestReference)],
])
def test_the_help_names_every_parameter_and_attribute(documented, names):
    text = pydoc.render_doc(documented, renderer=pydoc.plaintext)
    assert [n for n in names if not re.search(rf"\b{n}\b", text)] == []
    for name in names:  # each attribute describes itself too
        assert not hasattr(documented, name) or getattr(documented, name).__doc__.strip()


def test_the_type_stub_matches_the_module(source_dir):
    tree = ast.parse((source_dir / "python" / "toneprint" / "__init__.pyi").read_text())
    stub = {node.name: node for node in tree.body if hasattr(node, "name")}
    assert set(stub) | {"__version__"} == set(toneprint.__all__)
    init = next(node for node in stub["Settings"].body if getattr(node, "name", "") == "__init__")
    options = ["a4", "channel", "robust", "partials", *TARGET]
    for name, node, options in [("analyse", stub["analyse"], options),
                                ("analyse_file", stub["analyse_file"], options),
                                ("Settings", init, [])]:
        assert [arg.arg for arg in node.args.kwonlyargs] == options + NAMES, name
    assert [arg.arg for arg in stub["best_reference"].args.kwonlyargs] == ["a4", *TARGET[1:]]
    for name in ("Tone", "Pass", "FailedPass", "Settings", "Partial", "Inharmonicity", "Vibrato",
                 "OctaveCheck", "BestReference"):
        members = {node.name for node in stub[name].body if not node.name.startswith("_")}
        module = {member for member in dir(getattr(toneprint, name)) if not member.startswith("_")}
        assert members == module, name
    assert issubclass(toneprint.ReadError, OSError)
    assert [node.target.id for node in stub["ReadError"].body] == ["tones"]
