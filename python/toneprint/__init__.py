"""The pitch and the harmonics of recorded musical tones.

toneprint splits a recording into tones at its silences, skips each tone's
attack, finds its fundamental and measures the amplitude of the fundamental
and of each harmonic over frames of whole cycles: the analysis of the
programs toneprint and toneprint-batch, on numpy arrays and on files.

    import toneprint
    for tone in toneprint.analyse_file("notes.wav", harmonics=20):
        print(tone.note, tone.cents, tone.harmonics)

analyse() takes an array of samples and its sample rate; analyse_file() a
recording. Both return a list of Tone objects. Settings gives the defaults
for a sample rate. With partials=True each tone's partials are measured at
their own frequencies too, with the string's inharmonicity and the vibrato.
With expect=, temperament=, temperament_root= or stretch= each tone is
judged against its target, and best_reference() fits A4 to the tones.
compare() sets tones of two or more takes, instruments or files of results
side by side, note by note, as records for a table.
"""

from ._toneprint import (
    BestReference,
    Descriptors,
    FailedPass,
    Inharmonicity,
    OctaveCheck,
    Partial,
    Pass,
    ReadError,
    Settings,
    Tone,
    Vibrato,
    __version__,
    analyse,
    analyse_file,
    best_reference,
    compare,
)

__all__ = [
    "BestReference",
    "Descriptors",
    "FailedPass",
    "Inharmonicity",
    "OctaveCheck",
    "Partial",
    "Pass",
    "ReadError",
    "Settings",
    "Tone",
    "Vibrato",
    "__version__",
    "analyse",
    "analyse_file",
    "best_reference",
    "compare",
]
