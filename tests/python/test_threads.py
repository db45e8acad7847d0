"""Analyses in several threads at once, with the interpreter free meanwhile."""

import threading
import time
from concurrent.futures import ThreadPoolExecutor

import numpy as np

import toneprint
from conftest import RATE, read_wave, records, stereo, synth


def test_analyses_in_threads_give_what_they_give_one_by_one(recordings, demo):
    demo_samples, demo_rate = read_wave(demo)
    jobs = [
        lambda: toneprint.analyse_file(recordings["mono"], harmonics=20),
        lambda: toneprint.analyse_file(recordings["stereo"], channel=2),
        lambda: toneprint.analyse_file(demo, robust=True),
        lambda: toneprint.analyse(synth(), RATE, fft_size=2048),
        lambda: toneprint.analyse(stereo() / 32768.0, RATE),
        lambda: toneprint.analyse(demo_samples, demo_rate, a4=432),
    ]
    alone = [records(job()) for job in jobs]
    assert all(alone)
    with ThreadPoolExecutor(max_workers=4) as pool:
        together = list(pool.map(lambda job: records(job()), jobs * 4))
    assert together == alone * 4


def test_the_interpreter_runs_while_an_array_is_analysed():
    samples = np.tile(synth(), 60)  # over ten minutes of tones
    span = {}

    def analyse():
        span["start"] = time.perf_counter()
        span["tones"] = len(toneprint.analyse(samples, RATE, harmonics=50))
        span["end"] = time.perf_counter()

    # The longest wait between two steps of a pure-Python loop, from before
    # the thread starts to after it ends: with the interpreter held by the
    # analysis it would span the whole analysis.
    worker = threading.Thread(target=analyse)
    last, longest, steps = time.perf_counter(), 0.0, 0
    worker.start()
    while worker.is_alive():
        now = time.perf_counter()
        longest, last, steps = max(longest, now - last), now, steps + 1
    longest = max(longest, time.perf_counter() - last)
    worker.join()
    took = span["end"] - span["start"]
    assert span["tones"] == 60 * 6
    assert took > 0.1, "the analysis should take long enough to tell"
    assert longest < took / 2, (longest, took, steps)
