"""analyse() on every sample type, shape and layout it takes, and clear
errors for the arrays it does not."""

import numpy as np
import pytest

import toneprint
from conftest import RATE, records, stereo, synth

SIGNAL = synth()
STEREO = stereo()


@pytest.fixture(scope="module")
def expected():
    return records(toneprint.analyse(SIGNAL, RATE))


# The same signal in each sample type, with each type's full scale at 32768
# and unsigned types offset by their midpoint: the scalings back to 16 bits
# are exact. The signal's low byte is cleared so that int8 holds it too.
COARSE = SIGNAL & ~0xFF


@pytest.fixture(scope="module")
def coarse():
    return records(toneprint.analyse(COARSE, RATE))


@pytest.mark.parametrize("column", [False, True], ids=["1-D", "n x 1"])
@pytest.mark.parametrize("convert", [
    lambda x: (x >> 8).astype(np.int8),
    lambda x: x.astype(np.int32) << 16,
    lambda x: x.astype(np.int64) << 48,
    lambda x: ((x >> 8) + 128).astype(np.uint8),
    lambda x: (x.astype(np.int32) + 32768).astype(np.uint16),
    lambda x: ((x.astype(np.int64) + 32768) << 16).astype(np.uint32),
    lambda x: (x.astype(np.int64) + 32768).astype(np.uint64) << np.uint64(48),
    lambda x: (x / 32768.0).astype(np.float16),
    lambda x: (x / 32768.0).astype(np.float32),
    lambda x: x / 32768.0,
    lambda x: (x / 32768.0).astype(np.longdouble),
    lambda x: (x.astype(np.int64) << 48).tolist(),
], ids=["int8", "int32", "int64", "uint8", "uint16", "uint32", "uint64", "float16", "float32",
        "float64", "longdouble", "list of ints"])
def test_every_sample_type_and_shape_gives_the_same_tones(convert, column, coarse):
    samples = np.asarray(convert(COARSE))
    assert len(coarse) == 6
    assert records(toneprint.analyse(samples[:, None] if column else samples, RATE)) == coarse
    if column:
        assert records(toneprint.analyse(COARSE[:, None], RATE)) == coarse


def test_stereo_mix_is_the_mean_and_a_channel_is_that_channel():
    left, right = STEREO[:, 0].copy(), STEREO[:, 1].copy()
    mean = (left.astype(np.float64) + right) / 2 / 32768.0
    assert records(toneprint.analyse(STEREO, RATE)) == records(toneprint.analyse(mean, RATE))
    by_channel = [records(toneprint.analyse(STEREO, RATE, channel=c)) for c in (1, 2)]
    assert by_channel == [records(toneprint.analyse(left, RATE)),
                          records(toneprint.analyse(right, RATE))]
    assert [[t["note"] for t in tones] for tones in by_channel] == [["G3", "A4"], ["D4", "D5"]]


@pytest.mark.parametrize("samples, rate", [
    (SIGNAL[::2], RATE // 2),
    (SIGNAL[::-1], RATE),
    ((SIGNAL / 32768.0)[1::2], RATE // 2),
    (SIGNAL.astype(">i2"), RATE),
    ((SIGNAL.astype(np.int32) << 16).astype(">i4"), RATE),
    (np.asfortranarray(STEREO), RATE),
    (STEREO[:, 1:], RATE),
    (STEREO[::3, ::-1], RATE // 3),
], ids=["step 2", "reversed", "float step 2", "big-endian int16", "big-endian int32",
        "Fortran order", "column of stereo", "strided stereo"])
def test_any_layout_gives_what_its_contiguous_copy_gives(samples, rate):
    copy = np.ascontiguousarray(samples, dtype=samples.dtype.newbyteorder("="))
    assert not (samples.flags.c_contiguous and samples.dtype.isnative)
    found = records(toneprint.analyse(samples, rate))
    assert found and found == records(toneprint.analyse(copy, rate))


@pytest.mark.parametrize("samples", [
    np.zeros(0, np.int16), np.zeros((0, 2), np.float32), np.zeros(10 * RATE, np.int16),
    np.full(100, 20000, np.int16), np.full(RATE, np.nan),
], ids=["empty", "empty stereo", "silent", "100 samples", "all NaN"])
def test_nothing_to_measure_gives_no_tones(samples):
    assert toneprint.analyse(samples, RATE) == []


@pytest.mark.parametrize("bad", [np.nan, np.inf, -np.inf])
def test_a_sample_that_is_not_finite_counts_as_zero(bad, expected):
    samples = SIGNAL / 32768.0
    where = [RATE, RATE + 441, int(4.5 * RATE)]  # inside the first and third tones
    zeroed = samples.copy()
    zeroed[where] = 0.0
    samples[where] = bad
    found = records(toneprint.analyse(samples, RATE))
    assert found == records(toneprint.analyse(zeroed, RATE))
    assert [t["note"] for t in found] == [t["note"] for t in expected]


def test_a_list_of_floats_is_an_array():
    values = (SIGNAL[: 3 * RATE] / 32768.0).tolist()
    found = records(toneprint.analyse(values, RATE))
    assert found and found == records(toneprint.analyse(np.array(values), RATE))


TYPES = "samples must be real integers or floats, not "


@pytest.mark.parametrize("samples, keywords, error, message", [
    *[(np.zeros(100, t), {}, TypeError, TYPES + np.dtype(t).name)
      for t in (np.complex64, np.complex128, bool, object, np.timedelta64)],
    (np.zeros(100, "U4"), {}, TypeError, TYPES + "<U4"),
    ([True] * 100, {}, TypeError, TYPES + "bool"),
    ([[1.0, 2.0], [3.0]], {}, TypeError, "samples must be a numpy array or convertible"),
    (np.zeros((), np.int16), {}, ValueError, "not 0-D"),
    (np.zeros((10, 2, 2), np.int16), {}, ValueError, "not 3-D"),
    (np.zeros((10, 0), np.int16), {}, ValueError, "no channels"),
    (STEREO.T, {}, ValueError, rf"{STEREO.shape[0]} channels.*transpose"),
    (STEREO, {"channel": 3}, ValueError, "channel 3 asked for; the recording has 2"),
    (SIGNAL, {"channel": 2}, ValueError, "channel 2 asked for; the recording has 1"),
])
def test_arrays_it_cannot_take_are_refused(samples, keywords, error, message):
    with pytest.raises(error, match=message):
        toneprint.analyse(samples, RATE, **keywords)
