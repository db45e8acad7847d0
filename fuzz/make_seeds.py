#!/usr/bin/env python3
"""Writes the fuzzers' seed inputs to fuzz/seeds/ (run it from anywhere).

seeds/wave/: small WAVE files, plain ones and ones broken the ways that
recorders and editors break them. seeds/console/: typed answers, each after
the 4 bytes (little-endian) of the sample rate that fuzz_console reads first.
"""

import math
import struct
from pathlib import Path

SEEDS = Path(__file__).resolve().parent / "seeds"


def chunk(chunk_id, contents, declared=None):
    size = len(contents) if declared is None else declared
    pad = b"\0" if len(contents) % 2 and declared is None else b""
    return chunk_id + struct.pack("<I", size) + contents + pad


def riff(chunks, form=b"WAVE", declared=None):
    size = 4 + len(chunks) if declared is None else declared
    return b"RIFF" + struct.pack("<I", size) + form + chunks


def fmt(rate=8000, channels=1, bits=16, tag=1, extra=b""):
    block = channels * ((bits + 7) // 8)
    fields = struct.pack("<HHIIHH", tag, channels, rate, rate * block, block, bits)
    return chunk(b"fmt ", fields + extra)


def samples(values):
    return struct.pack("<%dh" % len(values), *values)


def tone(count, frequency=440.0, rate=8000, level=20000, harmonics=(1.0, 0.5, 0.25)):
    return [
        int(level / sum(harmonics) *
            sum(a * math.sin(2 * math.pi * frequency * (k + 1) * n / rate)
                for k, a in enumerate(harmonics)))
        for n in range(count)
    ]


def wave_seeds():
    short = samples([0, 1000, -1000, 5000, -32768, 32767, 0, 3])
    # Long enough after its start for one pitch block and a DFT frame.
    note = samples([0] * 40 + tone(2700) + [0] * 100)
    extensible = struct.pack("<HHI16s", 22, 16, 4, b"\x01\0\0\0\0\0\x10\0\x80\0\0\xaa\0\x38\x9b\x71")
    return {
        "note-8000.wav": riff(fmt() + chunk(b"data", note)),
        "short.wav": riff(fmt() + chunk(b"data", short)),
        "list-before-data.wav": riff(
            fmt(44100) + chunk(b"LIST", b"INFOIART" + struct.pack("<I", 3) + b"me\0")
            + chunk(b"data", short)),
        "junk-fact-data-first.wav": riff(
            chunk(b"JUNK", b"\0" * 28) + chunk(b"data", short) + chunk(b"fact", b"\x08\0\0\0")
            + fmt()),
        "extensible.wav": riff(fmt(48000, tag=0xFFFE, extra=extensible) + chunk(b"data", short)),
        "streaming-sizes.wav": riff(fmt() + chunk(b"data", short, declared=0xFFFFFFFF),
                                    declared=0xFFFFFFFF),
        "data-cut-short.wav": riff(fmt() + chunk(b"data", short, declared=4000)),
        "odd-data.wav": riff(fmt() + chunk(b"data", short + b"\x7f")),
        "empty-data.wav": riff(fmt() + chunk(b"data", b"")),
        "stereo.wav": riff(fmt(channels=2) + chunk(b"data", short)),
        "eight-bit.wav": riff(fmt(bits=8) + chunk(b"data", bytes(range(0, 256, 16)))),
        "chunks-after-data.wav": riff(fmt() + chunk(b"data", short) + chunk(b"id3 ", b"ID3\x04")
                                      + chunk(b"cue ", struct.pack("<I", 0))),
        "rate-extremes.wav": riff(fmt(rate=0xFFFFFFFF // 2) + chunk(b"data", note[:600])),
        "rate-zero.wav": riff(fmt(rate=0) + chunk(b"data", note[:600])),
        "short-fmt.wav": riff(chunk(b"fmt ", b"\x01\0\x01\0") + chunk(b"data", short)),
        "form-too-small.wav": riff(fmt() + chunk(b"data", short), declared=2),
        "rf64.wav": b"RF64" + b"\xff\xff\xff\xff" + b"WAVE"
                    + chunk(b"ds64", struct.pack("<QQQI", 60, 16, 8, 0)) + fmt()
                    + chunk(b"data", short, declared=0xFFFFFFFF),
    }


def console_seeds():
    rate = struct.pack("<I", 44100)
    every_setting = "\n".join([
        "yes", "10", "0.3", "0.2", "40", "yes", "4", "16384", "3200", "5", "0.04",
        "0.01", "5"]) + "\n"
    return {
        "keep-defaults": rate + b"no\n/tmp\n\n",
        "enter-everywhere": rate + b"y\n\n\n\n\ny\n\n\n\n\n\n\n\n\n",
        "every-setting": rate + every_setting.encode() + b"'/tmp'\nreport\n",
        "refused-then-accepted": struct.pack("<I", 8000)
            + b"yes\n51\n-1\nnan\ninf\n1e1\n30.5\n1e-9\n0.05\n 10.0\n\x00\n150\n"
            + b"YES please\n4.01\n0\n99999\n16384\n",
        "crlf-and-paths": struct.pack("<I", 96000)
            + b"Yes\r\n12\r\n\r\n0\r\n1\r\nno\r\n\"~/take.wav\"\r\n/nonexistent\r\n\r\n",
        "dialogs-only": struct.pack("<I", 22050) + b"n\n/\n/dev/null\nyes\n",
    }


def main():
    for folder, files in (("wave", wave_seeds()), ("console", console_seeds())):
        (SEEDS / folder).mkdir(parents=True, exist_ok=True)
        for name, data in files.items():
            (SEEDS / folder / name).write_bytes(data)


if __name__ == "__main__":
    main()
