"""Paired timing. Every timed call is preceded by one call of the floor (a
plain running sum of x in C), and a call's ratio in a repeat is its time over
that floor time: whatever slows the machine for a moment slows both, and
cancels. Without a floor the calls are timed alone and only times are kept.

trendfit's calls, the floor and the references run on one thread and are timed
by that thread's CPU time, which time spent waiting for a core while other
work runs does not inflate: on two busy cores that waiting, not the call, made
most of a millisecond call's wall time. The peers may use several threads, so
they are timed by the wall clock."""

import contextlib
import gc
import random
import statistics
import time

WALL, CPU = time.perf_counter_ns, time.thread_time_ns


def time_ns(call, around=contextlib.nullcontext, clock=CPU) -> int:
    with around():
        start = clock()
        result = call()
        elapsed = clock() - start
        del result  # freeing what the call returned is not part of its time
    return elapsed


def measure_paired(floor, cases, repeats: int, seed: int, progress, clock=CPU) -> dict:
    """{case name: {"kind", "compared_with", "ns": [...], "floor_ns": [...]}}
    with one entry per repeat; floor_ns[i] was measured right before ns[i]
    (floor_ns is empty when floor is None). A case and those compared with it
    are a group, timed back to back. Groups are visited in a new random order
    each repeat, and their cases forwards or backwards in turn, so no case
    always follows the same neighbour. clock times all but the peers."""
    groups = {}
    for case in cases:
        groups.setdefault(case.compared_with or case.name, []).append(case)
    groups = list(groups.values())
    samples = {case.name: {"kind": case.kind, "compared_with": case.compared_with, "ns": [], "floor_ns": []}
               for case in cases}
    for _ in range(2):  # warm-up
        for case in cases:
            if floor:
                time_ns(floor)
            time_ns(case.call, case.around)
    order = random.Random(seed)
    gc.collect()
    gc.disable()
    try:
        for repeat in range(repeats):
            progress(repeat, repeats)
            for group in order.sample(groups, len(groups)):
                for case in (group if repeat % 2 == 0 else reversed(group)):
                    if floor:
                        samples[case.name]["floor_ns"].append(time_ns(floor, clock=clock))
                    case_clock = WALL if case.kind == "peer" else clock
                    samples[case.name]["ns"].append(time_ns(case.call, case.around, case_clock))
    finally:
        gc.enable()
    return samples


def floors(sample: dict) -> float | None:
    """x floor: the median over repeats of time / the floor's time right
    before it. None without a floor."""
    if not sample["floor_ns"]:
        return None
    return statistics.median(t / f for t, f in zip(sample["ns"], sample["floor_ns"]))


def versus(sample: dict, other: dict) -> float:
    """The median over repeats of the ratio of two cases timed in one group."""
    return statistics.median(a / b for a, b in zip(sample["ns"], other["ns"]))


def all_floor_ns(samples: dict) -> list:
    """Every floor time of one n, sorted; empty without a floor."""
    return sorted(t for sample in samples.values() for t in sample["floor_ns"])


def best_floors(samples: dict, name: str) -> float:
    """A case's best time over the best floor time of the same run. The least
    disturbed call of each is the figure that changes least from one run to
    the next on a machine shared with other work."""
    return min(samples[name]["ns"]) / all_floor_ns(samples)[0]
