"""trendfit's benchmark: every call against the floor (a plain running sum in
C, built here) and beside the peers a user would call instead, at n = 1e5, 1e6
and 1e7, in one process; the extra peak memory of each statistic in a child
process; the targets, judged in floors.

Prints the tables and writes DIR/benchmark.json (raw figures) and
DIR/benchmark.png (time against n, log-log). Exits 1 if a target was missed
and 2 if it cannot run; without a C compiler there is no floor, and it prints
times and judges nothing. See bench/README.md."""

import argparse
import importlib.util
import json
import os
import platform
import shutil
import subprocess
import sys
import tempfile
import time
from pathlib import Path

BENCH = Path(__file__).resolve().parent
RESULTS = BENCH / "results" / "local"  # listed in .gitignore
FIGURE = BENCH / "results" / "benchmark.png"  # shown by README.md and bench/README.md
FULL_PLAN = {10_000: 201, 100_000: 41, 1_000_000: 21, 10_000_000: 11}  # n: repeats
# Without 10^7, which takes most of the time; and a few calls on a model of 10
# samples (cases.SMALL_N) many times over, where a cost per call shows.
QUICK_PLAN = {10: 2001} | {n: repeats for n, repeats in FULL_PLAN.items() if n < 10_000_000}
PEERS = ("scipy", "statsmodels", "sklearn", "threadpoolctl", "matplotlib")  # bench/requirements.txt
CANNOT_RUN = 2  # the exit status when nothing was measured; 1 is a missed target


def parse_arguments():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--quick", action="store_true", help="n = 1e5 and 1e6, and a few calls at n = 10")
    parser.add_argument("--out", type=Path, default=RESULTS, help=f"results directory (default {RESULTS})")
    parser.add_argument("--update-figure", action="store_true", help=f"also redraw {FIGURE} (not with --quick)")
    parser.add_argument("--compare", type=Path, metavar="EARLIER.json",
                        help="flag a trendfit call whose best x floor moved since that run")
    parser.add_argument("--seed", type=int, default=2024)
    parser.add_argument("--no-memory", action="store_true", help="skip the peak-memory child")
    args = parser.parse_args()
    if args.quick and args.update_figure:
        parser.error("the READMEs' figure is of a full run: --update-figure without --quick")
    return args


def check_installed():
    missing = [module for module in ("trendfit", *PEERS) if importlib.util.find_spec(module) is None]
    if missing:
        print(f"missing: {', '.join(missing)}\ninstall trendfit with python3 -m pip install . (or -e .) and the "
              "rest with python3 -m pip install -r bench/requirements.txt, from the project root", file=sys.stderr)
        sys.exit(CANNOT_RUN)


def read_earlier(path: Path) -> dict:
    """An earlier run's samples by n; it must have been measured against the floor."""
    try:
        with open(path) as earlier_json:
            samples = json.load(earlier_json)["samples"]
        if not all(sample.get("floor_ns") for by_name in samples.values() for sample in by_name.values()):
            raise ValueError("it has no floor timings")
    except (OSError, ValueError, KeyError) as error:
        print(f"--compare {path}: {error}", file=sys.stderr)
        sys.exit(CANNOT_RUN)
    return {int(n): by_name for n, by_name in samples.items()}  # JSON keeps n as text


def environment(trendfit) -> dict:
    import numpy

    describe = ["git", "-C", str(BENCH), "describe", "--always", "--dirty"]
    revision = (subprocess.run(describe, capture_output=True, text=True, check=False).stdout.strip()
                if shutil.which("git") else "")
    cpuinfo = Path("/proc/cpuinfo").read_text().splitlines() if Path("/proc/cpuinfo").exists() else []
    processor = next((line.split(":", 1)[1].strip() for line in cpuinfo if line.startswith("model name")),
                     platform.processor())
    return {"time": time.strftime("%Y-%m-%d %H:%M:%S %Z"), "python": platform.python_version(),
            "numpy": numpy.__version__, "machine": platform.machine(), "processor": processor,
            "cores": os.cpu_count(), "trendfit": trendfit.__file__, "revision": revision,
            "load_average_start": os.getloadavg()}


def blas_threads() -> list:
    """The BLAS and OpenMP thread pools loaded, the peers' included (so taken
    after they ran), and their threads."""
    from threadpoolctl import threadpool_info

    return [{key: info.get(key) for key in ("internal_api", "architecture", "num_threads", "filepath")}
            for info in threadpool_info()]


def progress(label: str):
    """A counter on a terminal; one line per size otherwise, to keep logs tidy."""
    def show(repeat, repeats):
        if sys.stderr.isatty():
            print(f"\r  {label}: repeat {repeat + 1}/{repeats}", end="" if repeat + 1 < repeats else "\n",
                  file=sys.stderr, flush=True)
        elif repeat == 0:
            print(f"  {label}: {repeats} repeats", file=sys.stderr, flush=True)
    return show


def measure(plan: dict, seed: int, with_memory: bool):
    """{n: samples}, whether there was a floor, and the memory figures at the
    largest n (None without)."""
    import cases
    import memory
    from timing import CPU, WALL, measure_paired

    with tempfile.TemporaryDirectory(prefix="trendfit-bench-") as directory:
        floor = cases.build_floor(directory)
        samples_by_n = {}
        for n, repeats in plan.items():
            x, y = cases.make_data(n, seed)
            # A call at SMALL_N takes less than a microsecond, about what reading the CPU clock costs, and is
            # too short to be interrupted often: the wall clock times it better.
            samples_by_n[n] = measure_paired(floor(x) if floor else None, cases.cases(x, y), repeats, seed,
                                             progress(f"n={n:,}"), WALL if n == cases.SMALL_N else CPU)
        if not with_memory:
            return samples_by_n, floor is not None, None
        print(f"  peak memory at n={max(plan):,} (child process)", file=sys.stderr)
        figures = memory.measure_in_children(max(plan), seed, Path(directory) / "memory.json")
        return samples_by_n, floor is not None, figures


def machine_text(env: dict) -> str:
    """The CPU, its cores and the BLAS thread pools: what the peers' figures depend on."""
    pools = dict.fromkeys(f"{pool['internal_api']} {pool['num_threads']} threads" for pool in env["blas"])
    return f"{env['processor']}, {env['cores']} cores, BLAS: {', '.join(pools) or 'none loaded'}"


def print_run(env: dict, samples_by_n: dict, memory_figures, verdicts, earlier):
    import report

    print(f"trendfit {env['trendfit']} ({env['revision'] or 'no git revision'})")
    print(f"machine: {machine_text(env)}; Python {env['python']}, NumPy {env['numpy']}")
    print("load average (1, 5, 15 min) at start {:.2f} {:.2f} {:.2f}, at end {:.2f} {:.2f} {:.2f}".format(
        *env["load_average_start"], *env["load_average_end"]))
    for n, samples in samples_by_n.items():
        print(f"\n{report.size_table(n, samples)}")
    print(report.LEGEND)
    if memory_figures:
        print(f"\n{report.memory_table(max(samples_by_n), memory_figures)}")
    if verdicts is None:
        print("\nNo C compiler, so no floor: times only, and no target is judged.")
        return
    print(f"\n{report.targets_table(verdicts)}")
    print(f"\n{report.ratios_table(samples_by_n, earlier)}")


def main():
    args = parse_arguments()
    check_installed()
    earlier = read_earlier(args.compare) if args.compare else None
    import targets
    import trendfit
    from plot import write_plot

    plan = QUICK_PLAN if args.quick else FULL_PLAN
    env = environment(trendfit)
    started = time.perf_counter()
    samples_by_n, has_floor, memory_figures = measure(plan, args.seed, not args.no_memory)
    env.update(blas=blas_threads(), load_average_end=os.getloadavg(), seconds=time.perf_counter() - started)
    verdicts = None
    if has_floor:
        verdicts = targets.judge_timing(samples_by_n) + ([targets.judge_memory(memory_figures)] if memory_figures
                                                         else [])
    print_run(env, samples_by_n, memory_figures, verdicts, earlier)
    print(f"\n({env['seconds']:.0f} s)")

    args.out.mkdir(parents=True, exist_ok=True)
    with open(args.out / "benchmark.json", "w") as output:
        json.dump({"environment": env, "repeats": plan, "samples": samples_by_n, "memory": memory_figures,
                   "targets": verdicts}, output, indent=1)
    caption = f"python3 bench/run.py{' --quick' * args.quick}   ({env['time']}, {machine_text(env)}, {env['revision']})"
    write_plot(samples_by_n, args.out / "benchmark.png", caption)
    print(f"wrote {args.out / 'benchmark.json'} and {args.out / 'benchmark.png'}")
    if args.update_figure:
        shutil.copyfile(args.out / "benchmark.png", FIGURE)
        print(f"wrote {FIGURE}")
    sys.exit(int(any(not verdict["pass"] for verdict in verdicts or [])))


if __name__ == "__main__":
    main()
