"""Paired timing. Every timed call is preceded by one call of the unit (one
sequential pass), and a case's ratio in a repeat is its time over that unit
time: whatever slows the machine for a moment slows both, and cancels."""

import contextlib
import gc
import random
import statistics
import time


def time_ns(call, around=contextlib.nullcontext) -> int:
    with around():
        start = time.perf_counter_ns()
        result = call()
        elapsed = time.perf_counter_ns() - start
        del result  # freeing what the call returned is not part of its time
    return elapsed


def measure_paired(unit, cases, repeats: int, seed: int, progress) -> dict:
    """{case name: {"kind", "compared_with", "ns": [...], "unit_ns": [...]}}
    with one entry per repeat; unit_ns[i] was measured right before ns[i]. A
    case and those compared with it are a group, timed back to back. Groups are
    visited in a new random order each repeat, and their cases forwards or
    backwards in turn, so no case always follows the same neighbour."""
    groups = {}
    for case in cases:
        groups.setdefault(case.compared_with or case.name, []).append(case)
    groups = list(groups.values())
    samples = {case.name: {"kind": case.kind, "compared_with": case.compared_with, "ns": [], "unit_ns": []}
               for case in cases}
    for _ in range(2):  # warm-up
        time_ns(unit)
        for case in cases:
            time_ns(case.call, case.around)
    order = random.Random(seed)
    gc.collect()
    gc.disable()
    try:
        for repeat in range(repeats):
            progress(repeat, repeats)
            for group in order.sample(groups, len(groups)):
                for case in (group if repeat % 2 == 0 else reversed(group)):
                    samples[case.name]["unit_ns"].append(time_ns(unit))
                    samples[case.name]["ns"].append(time_ns(case.call, case.around))
    finally:
        gc.enable()
    return samples


def passes(sample: dict) -> float:
    """x pass: the median over repeats of time / the unit time right before."""
    return statistics.median(t / u for t, u in zip(sample["ns"], sample["unit_ns"]))


def versus(sample: dict, other: dict) -> float:
    """The median over repeats of the ratio of two cases timed in one group."""
    return statistics.median(a / b for a, b in zip(sample["ns"], other["ns"]))


def best_passes(samples: dict, name: str) -> float:
    """A case's best time over the best one-pass time of the same run. The
    least disturbed call of each is the figure that changes least from one
    run to the next on a machine shared with other work."""
    return min(samples[name]["ns"]) / min(t for sample in samples.values() for t in sample["unit_ns"])
