"""The performance targets and how a run is judged against them.

A timing target's figure: at each n it covers, the median over repeats of the
per-repeat paired ratio (against the one-pass unit timed right before, or
against the peer timed in the same group), or that ratio over the measured
floor's own (passes of the floor); then the median of those per-n medians,
which for two sizes is their mean."""

import statistics
from dataclasses import dataclass

from cases import CHAIN4, CONSTRUCTION, COPY, FLOOR, LINREGRESS, PASSES, PREDICT_PAIRS, PREDICT_SIZES, SUMMARY
from timing import passes, versus

MEMORY_LIMIT_KIB = 1024
TARGET_SIZES = (1_000_000, 10_000_000)  # a run judges those it measured
PASS_LIMITS = {"one pass": 1.15, "two passes, one array": 2.3, "two passes, both arrays": 2.3,
               "three passes, both arrays": 3.5}


@dataclass(frozen=True)
class Target:
    case: str
    limit: float
    against: str | None = None  # None: the one-pass unit
    strict: bool = False  # must be below the limit, not just at most
    in_floors: bool = False  # counted in passes of the floor instead of the unit
    sizes: tuple | None = None  # given: judged at these instead, and each must meet the limit

    def meets(self, figure: float) -> bool:
        return figure < self.limit if self.strict else figure <= self.limit


TIMING_TARGETS = (
    [Target(name, PASS_LIMITS[group]) for group, names in PASSES.items() for name in names]
    + [Target(SUMMARY, 4.5, in_floors=True), Target(CONSTRUCTION, 1.3, against=COPY),
       Target(CHAIN4, 1.0, against=LINREGRESS, strict=True)]
    + [Target(name, 1.25, against=tolist, sizes=PREDICT_SIZES) for name, tolist in PREDICT_PAIRS.items()]
)


def in_floors(name: str, samples: dict) -> float | None:
    """A call's passes as passes of the measured floor: both are paired with
    the unit, so their quotient is too. None where there is no floor."""
    return passes(samples[name]) / passes(samples[FLOOR]) if FLOOR in samples else None


def ratio_at(target: Target, samples: dict) -> float:
    if target.against:
        return versus(samples[target.case], samples[target.against])
    return in_floors(target.case, samples) if target.in_floors else passes(samples[target.case])


def judge_timing(samples_by_n: dict) -> list[dict]:
    verdicts = []
    for target in TIMING_TARGETS:
        covered = [n for n in (target.sizes or TARGET_SIZES) if target.case in samples_by_n.get(n, {})]
        floors = {n: None if target.against else in_floors(target.case, samples_by_n[n]) for n in covered}
        if not covered or (target.in_floors and None in floors.values()):
            continue  # not measured, or no C compiler for the floor
        per_n = {n: ratio_at(target, samples_by_n[n]) for n in covered}
        figure = statistics.median(per_n.values())
        misses_at = [n for n, ratio in per_n.items() if not target.meets(ratio)]
        against = target.against or ("floor" if target.in_floors else "one pass")
        verdicts.append({
            "target": f"{target.case} / {against}", "limit": f"{'<' if target.strict else '<='} {target.limit:g}",
            "per_n": per_n, "figure": figure, "pass": target.meets(figure) and not (target.sizes and misses_at),
            "misses_at": misses_at, "floor_per_n": None if None in floors.values() else floors,
        })
    return verdicts


def judge_memory(memory: dict) -> dict:
    measured = {name: result for name, result in memory.items() if not name.startswith("control")}
    worst = max(measured, key=lambda name: measured[name]["extra_kib"])
    extra = measured[worst]["extra_kib"]
    return {"target": "extra peak memory of any statistic", "limit": f"< {MEMORY_LIMIT_KIB} KiB",
            "worst": worst, "figure": extra, "pass": extra < MEMORY_LIMIT_KIB}
