"""Paired timing. Every timed call is preceded by one call of the unit (one
sequential pass), and a case's ratio in a repeat is its time over that unit
time: whatever slows the machine for a moment slows both, and cancels."""

import gc
import random
import statistics
import sys
import time


def time_call_ns(call) -> int:
    start = time.perf_counter_ns()
    result = call()
    elapsed = time.perf_counter_ns() - start
    del result  # freeing what the call returned is not part of its time
    return elapsed


def time_case_ns(case) -> int:
    with case.around():
        return time_call_ns(case.call)


def warm_up(unit, groups, rounds: int = 2):
    for _ in range(rounds):
        time_call_ns(unit)
        for group in groups:
            for case in group:
                time_case_ns(case)


def measure_paired(unit, groups, repeats: int, seed: int, progress=None) -> dict:
    """{case name: {"ns": [...], "unit_ns": [...]}} with one entry per repeat;
    unit_ns[i] was measured right before ns[i]. Groups are visited in a new
    random order each repeat, and their cases forwards or backwards in turn,
    so no case always follows the same neighbour."""
    order_rng = random.Random(seed)
    samples = {case.name: {"ns": [], "unit_ns": []} for group in groups for case in group}
    warm_up(unit, groups)
    gc.collect()
    gc.disable()
    try:
        for repeat in range(repeats):
            if progress:
                progress(repeat, repeats)
            for group in order_rng.sample(groups, len(groups)):
                for case in (group if repeat % 2 == 0 else reversed(group)):
                    samples[case.name]["unit_ns"].append(time_call_ns(unit))
                    samples[case.name]["ns"].append(time_case_ns(case))
    finally:
        gc.enable()
    return samples


def paired_ratios(sample: dict) -> list[float]:
    return [t / u for t, u in zip(sample["ns"], sample["unit_ns"])]


def ratios_between(sample: dict, other: dict) -> list[float]:
    """Per-repeat ratios of two cases timed in the same group."""
    return [a / b for a, b in zip(sample["ns"], other["ns"])]


def best_passes(samples: dict, name: str) -> float:
    """A case's best time over the best one-pass time of the same run. The
    least disturbed call of each is the figure that changes least from one
    run to the next on a machine shared with other work."""
    best_unit = min(t for sample in samples.values() for t in sample["unit_ns"])
    return min(samples[name]["ns"]) / best_unit


def summarise(sample: dict) -> dict:
    ratios = paired_ratios(sample)
    return {
        "median_s": statistics.median(sample["ns"]) / 1e9,
        "best_s": min(sample["ns"]) / 1e9,
        "ratio_median": statistics.median(ratios),
        "ratio_best": min(ratios),
    }


def stderr_progress(label: str):
    """A counter on a terminal; one line per size otherwise, to keep logs tidy."""
    def report(repeat, repeats):
        if sys.stderr.isatty():
            print(f"\r  {label}: repeat {repeat + 1}/{repeats}", end="", file=sys.stderr, flush=True)
        elif repeat == 0:
            print(f"  {label}: {repeats} repeats", file=sys.stderr, flush=True)
    return report
