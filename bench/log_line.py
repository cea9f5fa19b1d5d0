#!/usr/bin/env python3
"""Prints what one timestamped log line costs, written each way that
safestdlib-log-line has (the routines, bare C library calls, the same under a plain pthread mutex, spdlog, fmt),
as Markdown tables, and with --svg draws them with gnuplot.

usage: log_line.py BENCH_DIR [--svg OUT_DIR] [--threads 1,2,4] [--millis M] [--rounds R]

BENCH_DIR is the build's bench/ folder. Each way is measured with the zone
set (TZ=UTC0) and unset (no TZ at all, as systemd starts a service):
  - instructions per line, counted by callgrind (exact whatever else the
    machine does): the difference between N=1000 and N=3000 lines;
  - CPU time per line, from `safestdlib-log-line cpu` (the process's CPU
    time over the lines written), its median and spread over the rounds.
--svg writes OUT_DIR/benchmarks-log-line-instructions.svg (grouped bars,
TZ set and unset) and OUT_DIR/benchmarks-log-line-cpu.svg (CPU time per
line against threads, error bars from the fastest to the slowest run).
"""
import argparse
import os
import re
import shutil
import subprocess
import sys

LOW, HIGH = 1000, 3000  # lines per callgrind run; their difference cancels start-up
ZONES = (("set", "UTC0"), ("unset", None))


def environment(zone):
    """PATH alone, and TZ where the zone is set: an environment as small as
    a service's. localtime() looks TZ up on every call, through the whole
    environment where TZ is not there, so a larger one costs the routines
    more, and the counts would change with the shell they run from."""
    env = {"PATH": os.environ.get("PATH", "/usr/bin:/bin")}
    if zone is not None:
        env["TZ"] = zone
    return env


def instructions(tool, way, lines, env):
    run = subprocess.run(
        ["valgrind", "--tool=callgrind", "--callgrind-out-file=/dev/null",
         tool, "count", way, str(lines)],
        capture_output=True, text=True, check=True, env=env)
    return int(re.search(r"Collected : (\d+)", run.stderr).group(1))


def per_line(tool, way, env):
    low = instructions(tool, way, LOW, env)
    high = instructions(tool, way, HIGH, env)
    return (high - low) / (HIGH - LOW)


def cpu_round(tool, env, args):
    """One run of every point: the comment lines and
    {(threads, way): (cpu ns, lines/s, cores busy)}."""
    run = subprocess.run(
        [tool, "cpu", "--threads", args.threads, "--millis", str(args.millis), "--rounds", "1"],
        capture_output=True, text=True, check=True, env=env)
    comments, rows = [], {}
    for line in run.stdout.splitlines():
        if line.startswith("#"):
            comments.append(line[1:].strip())
            continue
        threads, way, cpu_ns, _, _, rate, cores = line.split()
        rows[(int(threads), way)] = (float(cpu_ns), float(rate), float(cores))
    return comments, rows


def median(values):
    values = sorted(values)
    mid = len(values) // 2
    return values[mid] if len(values) % 2 else (values[mid - 1] + values[mid]) / 2


def cpu_tables(tool, args):
    """Rounds of every point, the zones' processes in turn, so that both
    zones see the same machine too. Returns the machine's line, the
    build's line and
    {zone: {(threads, way): (median, min, max, lines/s, cores busy)}}:
    the CPU time's median and spread, the medians of the others."""
    runs = {zone: {} for zone, _ in ZONES}
    first = last = None
    for _ in range(args.rounds):
        for zone, value in ZONES:
            comments, rows = cpu_round(tool, environment(value), args)
            first = first or comments
            last = comments
            for point, figures in rows.items():
                runs[zone].setdefault(point, []).append(figures)
    load = r"load average ([0-9.-]+) before and ([0-9.-]+) after"
    before = re.search(load, first[0]).group(1)
    after = re.search(load, last[0]).group(2)
    cores = first[0].split(",")[0]
    machine = (f"{cores}, load average {before} before and {after} after; each point "
               f"{args.rounds} runs of {args.millis} ms, the zones' runs in turn")
    tables = {}
    for zone, points in runs.items():
        tables[zone] = {}
        for point, figures in points.items():
            cpu = [f[0] for f in figures]
            tables[zone][point] = (median(cpu), min(cpu), max(cpu),
                                   median([f[1] for f in figures]),
                                   median([f[2] for f in figures]))
    return machine, first[1], tables


def ratio(value, base):
    return f"{value / base:.2f}" if base else "-"


def print_tables(ways, counts, cpu, threads):
    machine, build, tables = cpu
    print(f"{machine}; {build}.")
    print()
    print("Instructions per line (callgrind), and their ratio to `bare`:")
    print()
    print("| way | TZ set | ratio | TZ unset | ratio |")
    print("|---|---:|---:|---:|---:|")
    for way in ways:
        s, u = counts["set"][way], counts["unset"][way]
        print(f"| `{way}` | {s:.0f} | {ratio(s, counts['set']['bare'])} "
              f"| {u:.0f} | {ratio(u, counts['unset']['bare'])} |")
    for zone, _ in ZONES:
        rows = tables[zone]
        print()
        print(f"CPU ns per line, median [fastest–slowest run], TZ {zone}:")
        print()
        print("| way | " + " | ".join(f"{t} thread{'s' if t > 1 else ''}" for t in threads) + " |")
        print("|---|" + "---:|" * len(threads))
        for way in ways:
            cells = [f"{rows[(t, way)][0]:.0f} [{rows[(t, way)][1]:.0f}–{rows[(t, way)][2]:.0f}]"
                     for t in threads]
            print(f"| `{way}` | " + " | ".join(cells) + " |")
    print()
    print("Lines a second, all threads together, and the cores kept busy (medians):")
    print()
    print("| way | " + " | ".join(f"TZ {zone}, {t}" for zone, _ in ZONES for t in threads) + " |")
    print("|---|" + "---:|" * (len(threads) * len(ZONES)))
    for way in ways:
        cells = [f"{tables[zone][(t, way)][3] / 1e6:.2f} M ({tables[zone][(t, way)][4]:.1f})"
                 for zone, _ in ZONES for t in threads]
        print(f"| `{way}` | " + " | ".join(cells) + " |")


def gnuplot(script):
    subprocess.run(["gnuplot"], input=script, text=True, check=True)


def draw_instructions(ways, counts, machine, out):
    rows = "\n".join(f"{way} {counts['set'][way]:.0f} {counts['unset'][way]:.0f}" for way in ways)
    top = 1.2 * max(max(counts[zone].values()) for zone, _ in ZONES)
    # Two bars a way, each 1/3 of the way's slot wide: their centres lie
    # 1/6 either side of the way's tic.
    gnuplot(f"""
$rows << EOD
{rows}
EOD
set terminal svg size 720,420 dynamic font "sans,12" background "white"
set output "{out}"
set title "Instructions per log line (callgrind)\\n{machine}" noenhanced
set style data histograms
set style histogram clustered gap 1
set style fill solid 0.8 border -1
set boxwidth 1
set ylabel "instructions per line"
set yrange [0:{top:.0f}]
set grid ytics
set key top right noenhanced
set xtics noenhanced
plot $rows using 2:xtic(1) title "TZ set (TZ=UTC0)" lc rgb "#4477aa", \\
     '' using 3 title "TZ unset" lc rgb "#ee6677", \\
     '' using ($0 - 1.0/6):2:(sprintf("%d", $2)) with labels offset 0,0.7 notitle, \\
     '' using ($0 + 1.0/6):3:(sprintf("%d", $3)) with labels offset 0,0.7 notitle
""")


def draw_cpu(ways, cpu, threads, out):
    machine, build, tables = cpu
    blocks = []
    for zone, _ in ZONES:
        for w, way in enumerate(ways):
            # Each way a little aside of the others, so that the bars show.
            shift = 1 + 0.06 * (w - (len(ways) - 1) / 2)
            rows = tables[zone]
            blocks.append("\n".join(
                f"{t * shift:.4f} {rows[(t, way)][0]:.1f} {rows[(t, way)][1]:.1f} "
                f"{rows[(t, way)][2]:.1f}" for t in threads))
    data = "\n\n\n".join(blocks)
    names = " ".join(ways)
    panels = []
    for z, (zone, value) in enumerate(ZONES):
        first = z * len(ways)
        panels.append(f"""
set title "TZ {zone}{' (TZ=' + value + ')' if value else ''}" noenhanced
plot for [i=1:words("{names}")] $rows index {first}+i-1 using 1:2:3:4 \\
  with yerrorlines lw 2 pt 7 title word("{names}", i)
""")
    gnuplot(f"""
$rows << EOD
{data}
EOD
set terminal svg size 980,440 dynamic font "sans,12" background "white"
set output "{out}"
set multiplot layout 1,2 title "CPU time per log line against threads: median, bars from the fastest to the slowest run\\n{machine}\\n{build}" noenhanced font "sans,11"
set xlabel "threads"
set ylabel "CPU ns per line"
set logscale x 2
set xtics ({", ".join(str(t) for t in threads)})
set xrange [{threads[0] / 1.4}:{threads[-1] * 1.4}]
set yrange [0:*]
set grid ytics
set key top left noenhanced
{"".join(panels)}
unset multiplot
""")


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("bench_dir")
    parser.add_argument("--svg", metavar="OUT_DIR")
    parser.add_argument("--threads", default="1,2,4")
    parser.add_argument("--millis", type=int, default=200)
    parser.add_argument("--rounds", type=int, default=11)
    args = parser.parse_args()
    tool = os.path.join(args.bench_dir, "safestdlib-log-line")
    if args.svg and not shutil.which("gnuplot"):
        sys.exit("log_line.py: --svg needs gnuplot (gnuplot-nox)")
    if not shutil.which("valgrind"):
        sys.exit("log_line.py: needs valgrind for the instruction counts")
    threads = [int(t) for t in args.threads.split(",")]
    ways = subprocess.run([tool, "ways"], capture_output=True, text=True,
                          check=True).stdout.split()
    counts = {zone: {way: per_line(tool, way, environment(value)) for way in ways}
              for zone, value in ZONES}
    cpu = cpu_tables(tool, args)
    print_tables(ways, counts, cpu, threads)
    if args.svg:
        os.makedirs(args.svg, exist_ok=True)
        draw_instructions(ways, counts, cpu[1],
                          os.path.join(args.svg, "benchmarks-log-line-instructions.svg"))
        draw_cpu(ways, cpu, threads, os.path.join(args.svg, "benchmarks-log-line-cpu.svg"))
        print()
        print(f"Pictures: {args.svg}/benchmarks-log-line-instructions.svg, "
              f"{args.svg}/benchmarks-log-line-cpu.svg")


if __name__ == "__main__":
    main()
