"""trendfit's benchmark: every call against one sequential pass and against
the peers a user would call instead, at n = 1e5, 1e6 and 1e7, in one process;
the extra peak memory of each statistic in a child process; the targets.

    python3 bench/run.py [--quick] [--out DIR] [--update-figure] [--compare EARLIER.json]

Prints the tables and writes DIR/benchmark.json (raw figures) and
DIR/benchmark.png (time against n, log-log); DIR is untracked, so a run
leaves the checkout as it was unless it is asked to redraw the READMEs'
figure."""

import argparse
import importlib
import json
import os
import platform
import shutil
import statistics
import subprocess
import sys
import tempfile
import time
from pathlib import Path

BENCH_DIR = Path(__file__).resolve().parent
REQUIREMENTS = {"scipy": "scipy", "statsmodels": "statsmodels", "sklearn": "scikit-learn",
                "matplotlib": "matplotlib", "trendfit": "trendfit (python3 -m pip install .)"}

FULL_PLAN = {100_000: 41, 1_000_000: 21, 10_000_000: 11}  # n: repeats
# The full run without 10^7, which takes most of its time: the same figures at
# 10^5 and 10^6, the targets judged at 10^6 only; and three calls on a model of
# 10 samples (bench/cases.py), many times over, where a cost per call shows.
SMALL_PLAN = {10: 2001}  # n = cases.SMALL_N
QUICK_PLAN = SMALL_PLAN | {n: repeats for n, repeats in FULL_PLAN.items() if n <= 1_000_000}
RESULTS = BENCH_DIR / "results" / "local"  # listed in .gitignore
FIGURE = BENCH_DIR / "results" / "benchmark.png"  # shown by README.md and bench/README.md


def missing_requirements() -> list[str]:
    missing = []
    for module, package in REQUIREMENTS.items():
        try:
            importlib.import_module(module)
        except ImportError:
            missing.append(package)
    return missing


def parse_arguments():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--quick", action="store_true",
                        help="a short run for checking that nothing got slower: n = 1e5 and 1e6, and a few "
                        "calls at n = 10")
    parser.add_argument("--out", type=Path, default=RESULTS, help="directory for benchmark.json and "
                        f"benchmark.png (default {RESULTS.relative_to(BENCH_DIR.parent)})")
    parser.add_argument("--update-figure", action="store_true", help=f"also redraw "
                        f"{FIGURE.relative_to(BENCH_DIR.parent)}, the figure the READMEs show (not with --quick)")
    parser.add_argument("--compare", type=Path, metavar="EARLIER.json",
                        help="the benchmark.json of an earlier run: print each call's best x pass beside it")
    parser.add_argument("--seed", type=int, default=2024)
    parser.add_argument("--no-memory", action="store_true", help="skip the peak-memory child")
    args = parser.parse_args()
    if args.quick and args.update_figure:
        parser.error("the READMEs' figure is of a full run: --update-figure without --quick")
    return args


def earlier_samples(path: Path) -> dict:
    """{n: samples} of an earlier run's benchmark.json (JSON keeps n as text)."""
    with open(path) as earlier:
        return {int(n): samples for n, samples in json.load(earlier)["samples"].items()}


def revision() -> str:
    try:
        return subprocess.run(["git", "-C", str(BENCH_DIR), "describe", "--always", "--dirty"],
                              capture_output=True, text=True, timeout=10).stdout.strip()
    except (OSError, subprocess.SubprocessError):
        return ""


def blas_threads() -> list:
    try:
        from threadpoolctl import threadpool_info
    except ImportError:
        return []
    return [{key: info.get(key) for key in ("internal_api", "architecture", "num_threads")}
            for info in threadpool_info()]


def environment(trendfit) -> dict:
    import numpy
    return {
        "time": time.strftime("%Y-%m-%d %H:%M:%S %Z"),
        "python": platform.python_version(), "numpy": numpy.__version__,
        "machine": platform.machine(), "processor": processor_name(), "cores": os.cpu_count(),
        "trendfit": trendfit.__file__, "revision": revision(), "blas": blas_threads(),
        "load_average_start": os.getloadavg(),
    }


def processor_name() -> str:
    try:
        with open("/proc/cpuinfo") as cpuinfo:
            for line in cpuinfo:
                if line.startswith("model name"):
                    return line.split(":", 1)[1].strip()
    except OSError:
        pass
    return platform.processor()


def measure_size(n, repeats, seed, floor, LinearRegression) -> dict:
    """{case name: {"ns", "unit_ns", "kind", "compared_with"}} at n."""
    from cases import case_groups, make_data, make_unit
    from timing import measure_paired, stderr_progress

    x, y = make_data(n, seed)
    groups = case_groups(LinearRegression, x, y, floor)
    samples = measure_paired(make_unit(x), groups, repeats, seed, stderr_progress(f"n={n:,}"))
    for group in groups:
        for case in group:
            samples[case.name].update(kind=case.kind, compared_with=case.compared_with)
    if sys.stderr.isatty():
        print(file=sys.stderr)
    return samples


def measure_memory(n, seed) -> dict:
    from memory import NAMES, measure_in_children

    print(f"  peak memory at n={n:,} (child process)", file=sys.stderr)
    with tempfile.TemporaryDirectory() as directory:
        return measure_in_children(n, seed, NAMES, Path(directory) / "memory.json")


def medians_for_plot(samples_by_n: dict) -> dict:
    from cases import UNIT_NAME

    medians = {}
    for n, samples in samples_by_n.items():
        medians[n] = {name: statistics.median(sample["ns"]) / 1e9 for name, sample in samples.items()}
        medians[n][UNIT_NAME] = statistics.median(
            t for sample in samples.values() for t in sample["unit_ns"]) / 1e9
    return medians


def print_environment(env: dict):
    print(f"trendfit {env['trendfit']} ({env['revision'] or 'no git revision'})")
    print(f"Python {env['python']}, NumPy {env['numpy']}, {env['processor']}, {env['cores']} cores, "
          f"BLAS {env['blas']}")
    print(f"load average at start {env['load_average_start']}, at end {env['load_average_end']}")


def main():
    args = parse_arguments()
    missing = missing_requirements()
    if missing:
        sys.exit("missing: " + ", ".join(missing) + "\ninstall with: python3 -m pip install . "
                 "-r bench/requirements.txt")
    from trendfit import LinearRegression
    import trendfit
    from floor import ChainSumFloor
    import report
    import targets
    from plot import write_plot

    plan = QUICK_PLAN if args.quick else FULL_PLAN
    earlier = earlier_samples(args.compare) if args.compare else None
    env = environment(trendfit)
    floor = ChainSumFloor()
    started = time.perf_counter()
    samples_by_n = {n: measure_size(n, repeats, args.seed, floor, LinearRegression)
                    for n, repeats in plan.items()}
    memory_n = max(plan)
    memory = None if args.no_memory else measure_memory(memory_n, args.seed)
    env["load_average_end"] = os.getloadavg()
    env["seconds"] = time.perf_counter() - started
    floor.close()

    timing_verdicts = targets.judge_timing(samples_by_n)
    memory_verdict = targets.judge_memory(memory) if memory else None

    print_environment(env)
    for n, samples in samples_by_n.items():
        print()
        print(report.size_table(n, samples))
    print(report.legend())
    if memory:
        print()
        print(report.memory_table(memory_n, memory))
    print()
    print(report.targets_table(timing_verdicts, memory_verdict))
    print()
    print(report.ratios_table(samples_by_n, earlier))
    print(f"\n({env['seconds']:.0f} s)")

    args.out.mkdir(parents=True, exist_ok=True)
    with open(args.out / "benchmark.json", "w") as output:
        json.dump({"environment": env, "repeats": plan, "samples": samples_by_n, "memory": memory,
                   "targets": timing_verdicts + ([memory_verdict] if memory_verdict else [])},
                  output, indent=1)
    caption = (f"python3 bench/run.py{' --quick' if args.quick else ''}   "
               f"({env['time']}, {env['processor']}, {env['revision']})")
    write_plot(medians_for_plot(samples_by_n), args.out / "benchmark.png", caption)
    print(f"wrote {args.out / 'benchmark.json'} and {args.out / 'benchmark.png'}")
    if args.update_figure:
        shutil.copyfile(args.out / "benchmark.png", FIGURE)
        print(f"wrote {FIGURE}")


if __name__ == "__main__":
    main()
