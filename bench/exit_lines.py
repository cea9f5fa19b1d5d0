#!/usr/bin/env python3
"""Counts the runs of exit_host whose output has a torn, cut or doubled line.

    python3 bench/exit_lines.py <build>/tests/exit_host [RUNS]

For each of print, print-plain (threads printing while main() returns) and
slow, slow-plain (prints blocked on a reader that starts 1.5 s late), runs
the host RUNS times (40 by default) and prints, per mode, how many runs had
a torn line, a doubled line, or output cut inside a line, and the median
time a run takes (for print, about 5 ms of it before main() returns; the
rest is the exit). The -plain modes print with the C library's printf, for
comparison. A measurement, not a test: nothing here passes or fails.
"""
import re
import statistics
import subprocess
import sys
import time

LINE = re.compile(r"T(\d) L(\d+) \.{300}")


def faults(out):
    torn = doubled = False
    seen = set()
    for line in out.split("\n")[:-1]:
        if line in ("exit handler", "static destructor"):
            continue
        m = LINE.fullmatch(line)
        if not m:
            torn = True
        elif m.groups() in seen:
            doubled = True
        else:
            seen.add(m.groups())
    return torn, doubled, out != "" and not out.endswith("\n")


def run(host, mode):
    start = time.monotonic()
    proc = subprocess.Popen([host, mode], stdout=subprocess.PIPE)
    if mode.startswith("slow"):
        time.sleep(1.5)
    out = proc.stdout.read().decode("latin-1")
    proc.wait()
    return faults(out) + (time.monotonic() - start,)


def main():
    host = sys.argv[1]
    runs = int(sys.argv[2]) if len(sys.argv) > 2 else 40
    print(f"{'mode':<12} {'torn':>5} {'cut':>5} {'doubled':>7} {'any':>5} {'median ms':>9}"
          f"  of {runs} runs")
    for mode in ("print", "print-plain", "slow", "slow-plain"):
        torn = cut = doubled = any_ = 0
        took = []
        for _ in range(runs):
            t, d, c, seconds = run(host, mode)
            took.append(seconds)
            torn += t
            doubled += d
            cut += c
            any_ += t or d or c
        median = statistics.median(took) * 1000
        print(f"{mode:<12} {torn:>5} {cut:>5} {doubled:>7} {any_:>5} {median:>9.1f}")


if __name__ == "__main__":
    main()
