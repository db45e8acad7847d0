"""analyse_file(): the paths it takes, the files it cannot read, and
recordings that end early."""

import os
import threading

import numpy as np
import pytest

import toneprint
from conftest import RATE, batch_records, records, stereo, synth, write_wave


@pytest.mark.parametrize("name, contents", [
    ("missing.wav", None), ("folder.wav", "folder"), ("empty.wav", b""),
    ("notes.txt", b"A4 440 Hz\n" * 50), ("cut_header.wav", b"RIFF\x24\x00\x00\x00WAVEfmt "),
])
def test_unreadable_files_raise_read_error_naming_them(name, contents, tmp_path):
    path = tmp_path / name
    if contents == "folder":
        path.mkdir()
    elif contents is not None:
        path.write_bytes(contents)
    with pytest.raises(toneprint.ReadError) as raised:
        toneprint.analyse_file(path)
    assert isinstance(raised.value, OSError)
    assert str(raised.value).startswith(f"{path}: ")
    assert raised.value.tones == []


def _copy_named_not_utf8(path, folder):
    copy = folder / os.fsdecode(b"note-\xff.wav")
    copy.write_bytes(path.read_bytes())
    return copy


@pytest.mark.parametrize("path_of", [
    lambda path, _: str(path), lambda path, _: path, lambda path, _: os.fsencode(path),
    _copy_named_not_utf8,
], ids=["str", "Path", "bytes", "not UTF-8"])
def test_paths_of_each_kind_are_read(path_of, recordings, tmp_path):
    found = records(toneprint.analyse_file(path_of(recordings["mono"], tmp_path)))
    assert found and found == records(toneprint.analyse(synth(), RATE))


@pytest.mark.parametrize("samples, cut_bytes", [
    (synth(), 2 * int(3.0 * RATE)),        # inside the noise
    (synth(), 2 * int(4.6 * RATE) + 1),    # inside E4, half a sample
    (stereo(), 4 * int(0.9 * RATE) + 3),   # inside the first notes, part of a frame
])
def test_a_file_cut_inside_its_samples_is_read_to_the_cut(samples, cut_bytes, tmp_path, batch):
    path = tmp_path / "cut.wav"
    path.write_bytes(write_wave(path, samples).read_bytes()[: 44 + cut_bytes])
    frames = cut_bytes // (2 * samples.ndim)
    found = records(toneprint.analyse_file(path))
    assert found == records(toneprint.analyse(samples[:frames], RATE)) == batch_records(batch(path))
    assert frames - RATE // 100 <= found[-1]["end_sample"] <= frames  # the cut tone ends there


def _read_position(path):
    """Where this process reads the file, or None while it has not opened it."""
    for fd in os.listdir("/proc/self/fd"):
        try:
            if os.readlink(f"/proc/self/fd/{fd}") == path:
                with open(f"/proc/self/fdinfo/{fd}", encoding="ascii") as info:
                    return int(info.readline().split()[1])
        except OSError:
            continue
    return None


@pytest.mark.skipif(not os.path.isdir("/proc/self/fdinfo"), reason="needs /proc")
def test_a_file_cut_while_read_raises_read_error_with_the_tones_read(tmp_path):
    samples = np.tile(synth(), 40)
    path = os.path.realpath(write_wave(tmp_path / "long.wav", samples))
    cut = 20 * synth().size + 60000  # inside the 21st A3
    outcome = {}

    def analyse():
        try:
            outcome["tones"] = toneprint.analyse_file(path)
        except toneprint.ReadError as error:
            outcome["error"] = error

    for _ in range(3):  # again should the reading pass the cut before it is made
        worker = threading.Thread(target=analyse)
        worker.start()
        while worker.is_alive():
            position = _read_position(path)
            if position is not None and position > samples.nbytes // 8:
                os.truncate(path, 44 + 2 * cut)
                break
        worker.join()
        if "error" in outcome:
            break
        write_wave(path, samples)
    error = outcome["error"]
    assert "could not be read to the end" in str(error)
    # The tones are those of the samples read before the reading failed.
    stop = error.tones[-1].end_sample
    assert cut - RATE < stop <= cut and len(error.tones) == 20 * 6 + 1
    assert records(error.tones) == records(toneprint.analyse(samples[:stop], RATE))
