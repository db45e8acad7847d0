#!/usr/bin/env python3
"""Times commands side by side, in alternation, and prints each one's wall and
processor time (user and system, all threads) and their ratios to the last
command's. Alternating keeps a machine whose speed drifts from favouring one.

    compare.py ROUNDS NAME=COMMAND... [--prepare COMMAND]

Each COMMAND runs through the shell; --prepare runs before every run of every
command and is not timed. The first round is a warm-up and is not counted.
"""
import os
import resource
import statistics
import subprocess
import sys
import time


def run(command):
    before = resource.getrusage(resource.RUSAGE_CHILDREN)
    start = time.perf_counter()
    status = subprocess.run(command, shell=True).returncode
    wall = time.perf_counter() - start
    after = resource.getrusage(resource.RUSAGE_CHILDREN)
    cpu = (after.ru_utime - before.ru_utime) + (after.ru_stime - before.ru_stime)
    if status != 0:
        sys.exit(f"compare.py: {command!r} failed with status {status}")
    return wall, cpu


def main(arguments):
    prepare = None
    if "--prepare" in arguments:
        at = arguments.index("--prepare")
        prepare = arguments[at + 1]
        arguments = arguments[:at] + arguments[at + 2:]
    if len(arguments) < 2 or not arguments[0].isdigit() or int(arguments[0]) < 2:
        sys.exit(__doc__)
    rounds = int(arguments[0])
    commands = [entry.split("=", 1) for entry in arguments[1:]]
    if any(len(entry) != 2 for entry in commands):
        sys.exit("compare.py: each command is given as NAME=COMMAND")
    times = {name: [] for name, _ in commands}
    for round_number in range(rounds):
        for name, command in commands:
            if prepare:
                subprocess.run(prepare, shell=True, check=True)
            measured = run(command)
            if round_number > 0:
                times[name].append(measured)
    last = commands[-1][0]
    base_wall = statistics.mean(t[0] for t in times[last])
    base_cpu = statistics.mean(t[1] for t in times[last])
    print(f"{rounds - 1} alternated runs each (after a warm-up), means:")
    print(f"{'':28} {'wall s':>8} {'cpu s':>8} {'wall ratio':>11} {'cpu ratio':>10}")
    for name, _ in commands:
        wall = statistics.mean(t[0] for t in times[name])
        cpu = statistics.mean(t[1] for t in times[name])
        print(f"{name:28} {wall:8.3f} {cpu:8.3f} {wall / base_wall:11.3f} {cpu / base_cpu:10.3f}")
    print(f"(ratios to {last})")


if __name__ == "__main__":
    main(sys.argv[1:])
