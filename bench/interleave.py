#!/usr/bin/env python3
"""Times commands round-robin: one run of each per round, in an order that rotates from
round to round, so that a change in the machine's load (other builds on the shared cores)
falls on every command alike instead of on whichever command hyperfine happened to be
timing then. Each command is split shell-style and started directly, without a shell, as
`hyperfine -N` does; only the start and the wait are timed.

With --cpu-of-prefix, each run's CPU time is measured too: the command's own (user and
system, from wait4) plus what the Wine processes of that prefix that were already running
(its wineserver, services, desktop) spent meanwhile (from the scheduler's per-thread
counters). CPU time hardly grows when other work competes for the cores, so it separates
variants that wall time, on a busy machine, cannot.

usage: interleave.py [--rounds N] [--warmup N] [--prepare CMD] [--reference NAME]
                     [--cpu-of-prefix WINEPREFIX] [--export-json FILE] NAME=COMMAND...
"""
import argparse
import glob
import json
import os
import shlex
import statistics
import subprocess
import sys
import time


def prefix_processes(prefix):
    """The processes whose environment names this Wine prefix, this one left out."""
    wanted = b"WINEPREFIX=" + os.fsencode(prefix)
    pids = []
    for entry in os.listdir("/proc"):
        if not entry.isdigit() or int(entry) == os.getpid():
            continue
        try:
            with open(f"/proc/{entry}/environ", "rb") as f:
                if wanted in f.read().split(b"\0"):
                    pids.append(entry)
        except OSError:
            pass
    return pids


def cpu_ns(pids):
    """CPU time so far of every thread of these processes, in nanoseconds."""
    total = 0
    for pid in pids:
        for path in glob.glob(f"/proc/{pid}/task/*/schedstat"):
            try:
                with open(path) as f:
                    total += int(f.read().split()[0])
            except (OSError, ValueError, IndexError):
                pass
    return total


def run(argv, server_pids):
    before = cpu_ns(server_pids) if server_pids is not None else 0
    start = time.perf_counter_ns()
    child = subprocess.Popen(argv, stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    _, status, usage = os.wait4(child.pid, 0)
    elapsed = (time.perf_counter_ns() - start) / 1e6
    child.returncode = os.waitstatus_to_exitcode(status)
    cpu = None
    if server_pids is not None:
        cpu = (usage.ru_utime + usage.ru_stime) * 1e3 + (cpu_ns(server_pids) - before) / 1e6
    return elapsed, child.returncode, cpu


def quantile(values, q):
    ordered = sorted(values)
    return ordered[min(len(ordered) - 1, int(q * len(ordered)))]


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--rounds", type=int, default=50)
    parser.add_argument("--warmup", type=int, default=5)
    parser.add_argument("--prepare", help="run (untimed) before every timed run")
    parser.add_argument("--reference", help="the command whose median the ratios divide by")
    parser.add_argument("--cpu-of-prefix", metavar="WINEPREFIX")
    parser.add_argument("--export-json")
    parser.add_argument("commands", nargs="+", metavar="NAME=COMMAND")
    options = parser.parse_args()

    names, argvs = [], []
    for entry in options.commands:
        name, sep, command = entry.partition("=")
        if not sep or not command:
            parser.error(f"not NAME=COMMAND: {entry}")
        names.append(name)
        argvs.append(shlex.split(command))
    prepare = shlex.split(options.prepare) if options.prepare else None
    times = {name: [] for name in names}
    cpus = {name: [] for name in names}
    failures = {name: 0 for name in names}

    for round_ in range(options.warmup + options.rounds):
        for k in range(len(names)):
            i = (round_ + k) % len(names)
            if prepare and subprocess.call(prepare, stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                                           stderr=subprocess.DEVNULL) != 0:
                sys.exit(f"interleave: the prepare command failed before a run of {names[i]}")
            server_pids = prefix_processes(options.cpu_of_prefix) if options.cpu_of_prefix else None
            elapsed, code, cpu = run(argvs[i], server_pids)
            if round_ >= options.warmup:
                times[names[i]].append(elapsed)
                if cpu is not None:
                    cpus[names[i]].append(cpu)
                failures[names[i]] += code != 0

    reference = options.reference or names[0]
    ref = statistics.median(times[reference])
    ref_cpu = statistics.median(cpus[reference]) if options.cpu_of_prefix else None
    width = max(len(n) for n in names)
    header = (f"{'command':{width}} {'median':>8} {'p25':>7} {'min':>7} {'p75':>7} {'x ref':>6}")
    if ref_cpu is not None:
        header += f" {'cpu med':>8} {'cpu min':>8} {'x ref':>6}"
    print(header + f"   (ms; {options.rounds} interleaved rounds; ref = {reference})")
    for name in names:
        t = times[name]
        line = (f"{name:{width}} {statistics.median(t):8.1f} {quantile(t, 0.25):7.1f} {min(t):7.1f} "
                f"{quantile(t, 0.75):7.1f} {statistics.median(t) / ref:6.2f}")
        if ref_cpu is not None:
            c = cpus[name]
            line += f" {statistics.median(c):8.1f} {min(c):8.1f} {statistics.median(c) / ref_cpu:6.2f}"
        print(line + (f"  ({failures[name]} runs exited non-zero)" if failures[name] else ""))
    if options.export_json:
        with open(options.export_json, "w") as f:
            json.dump({"rounds": options.rounds, "results": [
                {"command": n, "argv": a, "times_ms": times[n], "median_ms": statistics.median(times[n]),
                 "cpu_ms": cpus[n], "nonzero_exits": failures[n]} for n, a in zip(names, argvs)]}, f, indent=1)
    return 0


if __name__ == "__main__":
    sys.exit(main())
