"""partials=True: each partial at its own frequency, the string's stiffness
and the vibrato, against a stiff string whose every partial is known."""

import math

import numpy as np
import pytest

import toneprint
from conftest import RATE, STIFF_B, STIFF_LEVELS, stiff_partial, stiff_string, synth


@pytest.mark.parametrize("robust", [False, True])
def test_a_stiff_strings_partials_are_its_own(robust):
    (tone,) = toneprint.analyse(stiff_string(), RATE, partials=True, robust=robust,
                                harmonics=len(STIFF_LEVELS) - 1)
    assert abs(tone.inharmonicity.b / STIFF_B - 1) < 0.02
    assert tone.inharmonicity.b_uncertainty_from == "passes"
    assert repr(tone.inharmonicity).startswith("Inharmonicity(b=0.0005")
    assert [p.number for p in tone.partials] == list(range(1, len(STIFF_LEVELS) + 1))
    for partial, level in zip(tone.partials, STIFF_LEVELS):
        assert partial.below_noise == (level is None), partial
        if level is None:
            assert partial.frequency_hz is None and partial.level_db is None
            assert repr(partial) == f"Partial(number={partial.number}, below_noise=True)"
            continue
        assert abs(1200 * math.log2(partial.frequency_hz / stiff_partial(partial.number))) < 0.1
        assert abs(partial.level_db - level) < 0.2, partial
        harmonic = partial.number * tone.partials[0].frequency_hz
        assert partial.cents_from_harmonic == pytest.approx(
            1200 * math.log2(partial.frequency_hz / harmonic), abs=1e-6)
    assert tone.frequency == tone.partials[0].frequency_hz


@pytest.mark.parametrize("samples, keywords", [
    (stiff_string(), {}), (stiff_string(), {"partials": False}), (stiff_string(), {"robust": True}),
    (synth(), {"partials": True}),  # its fourth tone is too short for a pass
])
def test_without_a_summary_the_partials_fields_are_none(samples, keywords):
    tones = toneprint.analyse(samples, RATE, **keywords)
    if keywords.get("partials"):
        tones = [tone for tone in tones if not tone.measured]
    assert tones
    assert all(t.partials is None and t.inharmonicity is None and t.vibrato is None
               for t in tones)
