#!/usr/bin/env python3
"""Prints the cost of each routine over its bare C library call, as a
Markdown table: the time ratio from safestdlib-bench (Google Benchmark) and
the added instructions per call from callgrind, which counts exactly.

The routines are the list's (SafeStdLib/internal/RoutineList.h), as
safestdlib-instructions names them (--routines, --checked).

usage: cost_table.py BENCH_DIR   (the build's bench/ folder)
           prints the table, then the lock's figures and the log line's
           (safestdlib-instructions --shapes)
       cost_table.py --per-call BENCH_DIR NAME wrapped|bare
           prints the instructions of one call, rounded
       cost_table.py --fortify BENCH_DIR
           prints what _FORTIFY_SOURCE adds to each routine with a checked
           entry: the instructions of one call from a host built plain and
           from one built with -D_FORTIFY_SOURCE=2, the routine's and its
           bare C library call's (glibc's own checks)
"""
import json
import os
import re
import subprocess
import sys
import tempfile

LOW, HIGH = 1000, 3000  # calls per callgrind run; their difference cancels start-up


def instructions(tool, name, variant, calls):
    run = subprocess.run(
        ["valgrind", "--tool=callgrind", "--callgrind-out-file=/dev/null",
         tool, name, variant, str(calls)],
        capture_output=True, text=True, check=True)
    return int(re.search(r"Collected : (\d+)", run.stderr).group(1))


def per_call(tool, name, variant):
    low = instructions(tool, name, variant, LOW)
    high = instructions(tool, name, variant, HIGH)
    return (high - low) / (HIGH - LOW)


def routines_of(tool, option):
    run = subprocess.run([tool, option], capture_output=True, text=True, check=True)
    return run.stdout.split()


def routines(tool):
    return routines_of(tool, "--routines")


def times(bench, names):
    with tempfile.NamedTemporaryFile(suffix=".json") as out:
        subprocess.run([bench, f"--benchmark_filter=^(Bare|Wrapped)/({'|'.join(names)})$",
                        "--benchmark_repetitions=5", "--benchmark_report_aggregates_only=true",
                        "--benchmark_min_time=0.2", "--benchmark_enable_random_interleaving=true",
                        f"--benchmark_out={out.name}",
                        "--benchmark_out_format=json"],
                       check=True, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        report = json.load(open(out.name))
    medians = {}
    for b in report["benchmarks"]:
        if b.get("aggregate_name") == "median":
            medians[b["run_name"]] = b["real_time"]
    return medians


def fortify_table(bench_dir):
    plain = os.path.join(bench_dir, "safestdlib-instructions")
    fortified = os.path.join(bench_dir, "safestdlib-instructions-fortify")
    # Every routine as it stands in the list's calls (the printers' formats
    # checked from level 2 on; a buffer of known size, a size known to fit,
    # and the sprintf forms, which have no size, checked), then each routine
    # with a checked entry given the size at run time (checked_NAME), and
    # the formats that the format checks read further.
    names = routines(plain) + routines_of(plain, "--checked")
    print("| call | plain host | fortified host | added | bare plain | bare fortified | added |")
    print("|---|---:|---:|---:|---:|---:|---:|")
    for name in names:
        row = []
        for variant in ("wrapped", "bare"):
            before, after = per_call(plain, name, variant), per_call(fortified, name, variant)
            row += [f"{before:.0f}", f"{after:.0f}", f"{round(after - before):+d}"]
        print(f"| `{name}` | " + " | ".join(row) + " |")


def main():
    if len(sys.argv) == 3 and sys.argv[1] == "--fortify":
        fortify_table(sys.argv[2])
        return
    if len(sys.argv) == 5 and sys.argv[1] == "--per-call":
        tool = os.path.join(sys.argv[2], "safestdlib-instructions")
        print(int(per_call(tool, sys.argv[3], sys.argv[4]) + 0.5))
        return
    bench_dir = sys.argv[1] if len(sys.argv) > 1 else "."
    tool = os.path.join(bench_dir, "safestdlib-instructions")
    names = routines(tool)
    medians = times(os.path.join(bench_dir, "safestdlib-bench"), names)
    lock = per_call(tool, "lock", "wrapped")
    pair = per_call(tool, "lock", "bare")
    print("| routine | bare ns | wrapped ns | time ratio | bare instr. | wrapped instr. | added instr. |")
    print("|---|---:|---:|---:|---:|---:|---:|")
    worst = 0.0
    for name in names:
        bare_ns, wrapped_ns = medians[f"Bare/{name}"], medians[f"Wrapped/{name}"]
        bare_i, wrapped_i = per_call(tool, name, "bare"), per_call(tool, name, "wrapped")
        worst = max(worst, wrapped_i - bare_i)
        print(f"| `zuvo_{name}` | {bare_ns:.1f} | {wrapped_ns:.1f} | {wrapped_ns / bare_ns:.2f} "
              f"| {bare_i:.0f} | {wrapped_i:.0f} | {wrapped_i - bare_i:.0f} |")
    print()
    print(f"OSMutex Lock+Unlock: {lock:.0f} instructions; pthread_mutex_lock+unlock: {pair:.0f} "
          "(both counted with the same call around them).")
    print(f"Most instructions a wrapper adds: {worst:.0f}, "
          f"{worst / pair:.2f} times a pthread lock-and-unlock pair.")
    empty = per_call(tool, "empty", "wrapped")
    nested = per_call(tool, "nested", "wrapped") - lock
    held = per_call(tool, "printf_held", "wrapped") - per_call(tool, "printf_held", "bare")
    print(f"Lock+Unlock over an empty call: {lock - empty:.0f}; a level more, for a thread "
          f"that holds the mutex, through the same entries: {nested:.0f}; zuvo_printf over "
          f"printf for a caller that holds the mutex: {held:.0f}.")
    for shape, zone in (("line", "TZ set"), ("line_tz_unset", "TZ unset")):
        wrapped_i, bare_i = per_call(tool, shape, "wrapped"), per_call(tool, shape, "bare")
        print(f"A timestamped log line ({zone}): {wrapped_i:.0f} instructions against "
              f"{bare_i:.0f} bare, {wrapped_i / bare_i:.3f} times.")


if __name__ == "__main__":
    main()
