"""Extra peak resident memory during single trendfit calls (Linux).

Run by run.py in a child process, so the parent's own arrays and peaks do
not count. Before each call the child returns free heap memory to the system
(malloc_trim), so a temporary cannot hide in pages that are already resident,
and resets the kernel's peak mark (writing 5 to /proc/self/clear_refs) to the
current resident size. The extra memory of the call is then the new peak
minus the resident size just before it.

Where the peak cannot be reset, each call gets its own child instead, and the
result says how much a temporary could hide under the peak already reached
("slack"). Two controls show what the measurement sees: a call that does
nothing, and a NumPy copy of x, an n-sized temporary.

    python bench/memory.py --n 10000000 --out result.json [names...]
"""

import argparse
import ctypes
import gc
import json
import re
import subprocess
import sys

from cases import c_stdout_to_devnull, fit_calls, make_data

REPEATS = 3


def status_kib(field: str) -> int:
    with open("/proc/self/status") as status:
        return int(re.search(rf"^{field}:\s+(\d+) kB", status.read(), re.MULTILINE).group(1))


def reset_peak() -> bool:
    try:
        with open("/proc/self/clear_refs", "w") as clear_refs:
            clear_refs.write("5")
        return True
    except OSError:
        return False


def extra_peak_kib(call) -> dict:
    gc.collect()
    try:
        ctypes.CDLL(None).malloc_trim(0)  # return the heap's free pages to the system
    except AttributeError:
        pass  # not glibc
    peak_was_reset = reset_peak()
    resident_before = status_kib("VmRSS")
    slack = max(0, status_kib("VmHWM") - resident_before)
    result = call()
    extra = max(0, status_kib("VmHWM") - resident_before)
    del result
    return {"extra_kib": extra, "slack_kib": slack, "peak_reset": peak_was_reset}


def measure(names, n: int, seed: int) -> dict:
    from trendfit import LinearRegression

    x, y = make_data(n, seed)
    fit = LinearRegression(x, y)
    calls = {**fit_calls(fit), "summary": fit.summary,  # its report goes to /dev/null, below
             "control: nothing": lambda: None, "control: numpy copy of x": x.copy}
    results = {}
    with c_stdout_to_devnull():  # summary's report, and nothing else, goes to fd 1
        for call in calls.values():
            call()  # warm-up: first-call costs are not per-call temporaries
        for name in names or calls:
            runs = [extra_peak_kib(calls[name]) for _ in range(REPEATS)]
            worst = max(runs, key=lambda run: run["extra_kib"])
            results[name] = dict(worst, slack_kib=max(run["slack_kib"] for run in runs))
    return results


def measure_in_children(n: int, seed: int, output) -> dict:
    """Every call in one child; if that child cannot reset the peak, one
    child per call, so each starts from a known peak."""
    results = run_child(n, seed, [], output)
    if not all(result["peak_reset"] for result in results.values()):
        for name in list(results):
            results.update(run_child(n, seed, [name], output))
    return results


def run_child(n: int, seed: int, names, output) -> dict:
    command = [sys.executable, __file__, "--n", str(n), "--seed", str(seed), "--out", str(output), *names]
    subprocess.run(command, check=True)
    with open(output) as result:
        return json.load(result)


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--n", type=int, default=10_000_000)
    parser.add_argument("--seed", type=int, default=2024)
    parser.add_argument("--out", required=True, help="JSON file for the results")
    parser.add_argument("names", nargs="*", help="the calls to measure (default: all)")
    args = parser.parse_args()
    with open(args.out, "w") as output:
        json.dump(measure(args.names, args.n, args.seed), output, indent=1)


if __name__ == "__main__":
    main()
