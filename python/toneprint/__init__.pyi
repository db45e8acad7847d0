# Type hints for the compiled module: the signatures of analyse(),
# analyse_file(), best_reference(), compare() and Settings, and the
# attributes of the results.

from os import PathLike
from typing import Any, Iterable, Literal, Sequence, TypedDict, Union

import numpy as np
import numpy.typing as npt

__version__: str

# Samples of any real integer or float type, or what numpy makes an array of
# them from (a list of Python ints is int64); each integer type's full
# scale, and a float's 1.0, is the 16-bit scale's 32768. Complex, bool and
# object arrays are refused.
Samples = Union[
    npt.NDArray[Union[np.integer[Any], np.floating[Any]]],
    Sequence[float],
    Sequence[Sequence[float]],
]

RobustChange = Literal[
    "follow_tail", "short_attack", "short_frames", "check_vote", "consensus",
    "relative_threshold",
    "split_legato",
]

Temperament = Literal[
    "equal", "pythagorean", "quarter-comma-meantone", "sixth-comma-meantone",
    "werckmeister-iii", "kirnberger-iii", "vallotti", "young", "just",
]

class ReadError(OSError):
    tones: list[Tone]

class Pass:
    @property
    def time(self) -> float: ...
    @property
    def sample(self) -> int: ...
    @property
    def fundamental(self) -> float: ...
    @property
    def amplitudes(self) -> npt.NDArray[np.float64]: ...
    @property
    def used(self) -> bool: ...

class FailedPass:
    @property
    def time(self) -> float: ...
    @property
    def sample(self) -> int: ...
    @property
    def failure(self) -> Literal["no peaks", "detection error", "vote rejected"]: ...
    @property
    def message(self) -> str: ...

class Partial:
    @property
    def number(self) -> int: ...
    @property
    def frequency_hz(self) -> float | None: ...
    @property
    def cents_from_harmonic(self) -> float | None: ...
    @property
    def amplitude(self) -> float | None: ...
    @property
    def level_db(self) -> float | None: ...
    @property
    def below_noise(self) -> bool: ...

class Inharmonicity:
    @property
    def b(self) -> float: ...
    @property
    def b_uncertainty(self) -> float | None: ...
    @property
    def b_uncertainty_from(self) -> Literal["passes", "fit"]: ...

class Vibrato:
    @property
    def rate_hz(self) -> float: ...
    @property
    def extent_cents(self) -> float: ...

class OctaveCheck:
    @property
    def found_hz(self) -> float: ...
    @property
    def expected_hz(self) -> float: ...
    @property
    def taken(self) -> Literal["expected", "found"]: ...
    @property
    def evidence(self) -> Literal["spectrum", "period", "spectrum and period", "none",
                                  "unresolved"]: ...

class Descriptors:
    @property
    def harmonics_used(self) -> int: ...
    @property
    def centroid_hz(self) -> float: ...
    @property
    def centroid_harmonic(self) -> float: ...
    @property
    def odd_even_db(self) -> float | None: ...
    @property
    def t1(self) -> float: ...
    @property
    def t2(self) -> float: ...
    @property
    def t3(self) -> float: ...
    @property
    def slope_db_per_octave(self) -> float | None: ...

class BestReference:
    @property
    def a4_hz(self) -> float: ...
    @property
    def interval_hz(self) -> float: ...
    @property
    def tones(self) -> int: ...

class Tone:
    @property
    def start(self) -> float: ...
    @property
    def end(self) -> float: ...
    @property
    def start_sample(self) -> int: ...
    @property
    def end_sample(self) -> int: ...
    @property
    def frequency(self) -> float | None: ...
    @property
    def note(self) -> str | None: ...
    @property
    def cents(self) -> float | None: ...
    @property
    def spread_cents(self) -> float | None: ...
    @property
    def max_fundamental(self) -> float | None: ...
    @property
    def harmonics(self) -> npt.NDArray[np.float64]: ...
    @property
    def passes(self) -> list[Pass]: ...
    @property
    def failed(self) -> list[FailedPass]: ...
    @property
    def partials(self) -> list[Partial] | None: ...
    @property
    def inharmonicity(self) -> Inharmonicity | None: ...
    @property
    def vibrato(self) -> Vibrato | None: ...
    @property
    def descriptors(self) -> Descriptors | None: ...
    @property
    def split_from(self) -> int | None: ...
    @property
    def expected_note(self) -> str | None: ...
    @property
    def expected_hz(self) -> float | None: ...
    @property
    def expected_from(self) -> Literal["expectation", "nearest"] | None: ...
    @property
    def deviation_cents(self) -> float | None: ...
    @property
    def octave_check(self) -> OctaveCheck | None: ...
    @property
    def measured(self) -> bool: ...

class Settings:
    def __init__(
        self,
        sample_rate: int,
        *,
        harmonics: int | None = ...,
        min_tone: float | None = ...,
        attack: float | None = ...,
        peak_threshold: int | None = ...,
        silence: float | None = ...,
        fft_size: Literal[2048, 4096, 8192, 16384] | None = ...,
        hop: int | None = ...,
        threshold: float | None = ...,
        min_cycles: int | None = ...,
        max_extra: float | None = ...,
        max_cycle_fraction: float | None = ...,
        peaks: int | None = ...,
    ) -> None: ...
    @property
    def sample_rate(self) -> int: ...
    @property
    def harmonics(self) -> int: ...
    @property
    def min_tone(self) -> float: ...
    @property
    def attack(self) -> float: ...
    @property
    def peak_threshold(self) -> int: ...
    @property
    def silence(self) -> float: ...
    @property
    def fft_size(self) -> int: ...
    @property
    def hop(self) -> int: ...
    @property
    def threshold(self) -> float: ...
    @property
    def min_cycles(self) -> int: ...
    @property
    def max_extra(self) -> float: ...
    @property
    def max_cycle_fraction(self) -> float: ...
    @property
    def peaks(self) -> int: ...
    def as_dict(self) -> dict[str, int | float]: ...

def best_reference(
    tones: Iterable[Tone],
    *,
    a4: float = 440.0,
    temperament: Temperament | str | PathLike[str] | None = None,
    temperament_root: str | None = None,
    stretch: float | None = None,
) -> BestReference | None: ...
def analyse(
    samples: Samples,
    sample_rate: int,
    *,
    a4: float = 440.0,
    channel: Literal["mix"] | int = "mix",
    robust: bool | Iterable[RobustChange] = False,
    partials: bool = False,
    expect: str | Iterable[str | int] | None = None,
    temperament: Temperament | str | PathLike[str] | None = None,
    temperament_root: str | None = None,
    stretch: float | None = None,
    harmonics: int | None = ...,
    min_tone: float | None = ...,
    attack: float | None = ...,
    peak_threshold: int | None = ...,
    silence: float | None = ...,
    fft_size: Literal[2048, 4096, 8192, 16384] | None = ...,
    hop: int | None = ...,
    threshold: float | None = ...,
    min_cycles: int | None = ...,
    max_extra: float | None = ...,
    max_cycle_fraction: float | None = ...,
    peaks: int | None = ...,
) -> list[Tone]: ...
def analyse_file(
    path: Union[str, PathLike[str]],
    *,
    a4: float = 440.0,
    channel: Literal["mix"] | int = "mix",
    robust: bool | Iterable[RobustChange] = False,
    partials: bool = False,
    expect: str | Iterable[str | int] | None = None,
    temperament: Temperament | str | PathLike[str] | None = None,
    temperament_root: str | None = None,
    stretch: float | None = None,
    harmonics: int | None = ...,
    min_tone: float | None = ...,
    attack: float | None = ...,
    peak_threshold: int | None = ...,
    silence: float | None = ...,
    fft_size: Literal[2048, 4096, 8192, 16384] | None = ...,
    hop: int | None = ...,
    threshold: float | None = ...,
    min_cycles: int | None = ...,
    max_extra: float | None = ...,
    max_cycle_fraction: float | None = ...,
    peaks: int | None = ...,
) -> list[Tone]: ...

# A row of compare()'s result (a type for checkers only).
ComparisonRecord = TypedDict("ComparisonRecord", {
    "note": str, "midi": int, "matched": bool, "set": str, "harmonic": int,
    "level_db": float | None, "difference_db": float | None,
    "relative_to": Literal["full scale", "fundamental"], "spread_db": float | None,
    "tones": int})

def compare(
    sets: Iterable[Iterable[Tone] | str | PathLike[str]],
    *,
    names: Iterable[str] | None = None,
    a4: float = 440.0,
    channel: Literal["mix"] | int = "mix",
    robust: bool | Iterable[RobustChange] = False,
    partials: bool = False,
    expect: str | Iterable[str | int] | None = None,
    temperament: Temperament | str | PathLike[str] | None = None,
    temperament_root: str | None = None,
    stretch: float | None = None,
    harmonics: int | None = ...,
    min_tone: float | None = ...,
    attack: float | None = ...,
    peak_threshold: int | None = ...,
    silence: float | None = ...,
    fft_size: Literal[2048, 4096, 8192, 16384] | None = ...,
    hop: int | None = ...,
    threshold: float | None = ...,
    min_cycles: int | None = ...,
    max_extra: float | None = ...,
    max_cycle_fraction: float | None = ...,
    peaks: int | None = ...,
) -> list[ComparisonRecord]: ...
