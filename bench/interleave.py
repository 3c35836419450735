#!/usr/bin/env python3
"""interleave.py ROUNDS NAME=COMMAND...: times commands round-robin, one run of each per round
in an order that rotates from round to round, so that a change in the machine's load (other
builds on the shared cores) falls on every command alike instead of on whichever one was
being timed then. Each command is split shell-style and started without a shell, as
`hyperfine -N` does. Prints each command's median, its p25-p75 and its difference from the
first command's median, in ms, after 5 untimed warm-up rounds. A run that exits non-zero
stops the measurement, as its time would not be the step's."""
import shlex
import statistics
import subprocess
import sys
import time

WARMUP = 5


def quartile(times, q):
    return sorted(times)[min(len(times) - 1, int(q * len(times)))]


def main():
    rounds = int(sys.argv[1])
    names = [entry.partition("=")[0] for entry in sys.argv[2:]]
    argvs = [shlex.split(entry.partition("=")[2]) for entry in sys.argv[2:]]
    times = {name: [] for name in names}
    for round_ in range(WARMUP + rounds):
        for k in range(len(names)):
            i = (round_ + k) % len(names)
            start = time.perf_counter_ns()
            if subprocess.call(argvs[i], stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                               stderr=subprocess.DEVNULL) != 0:
                sys.exit(f"interleave: {names[i]} exited non-zero")
            if round_ >= WARMUP:
                times[names[i]].append((time.perf_counter_ns() - start) / 1e6)
    floor = statistics.median(times[names[0]])
    width = max(len(name) for name in names)
    print(f"{'command':{width}} {'median':>7} {'p25-p75':>11} {'+ vs ' + names[0]:>16}   (ms; {rounds} rounds)")
    for name in names:
        t = times[name]
        print(f"{name:{width}} {statistics.median(t):7.1f} {quartile(t, 0.25):5.1f}-{quartile(t, 0.75):<5.1f} "
              f"{statistics.median(t) - floor:+16.1f}")


if __name__ == "__main__":
    main()
