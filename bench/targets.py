"""The performance targets and how a run is judged against them.

A timing target's figure: at each n it covers, the median over repeats of the
per-repeat paired ratio (against the one-pass unit timed right before, or
against the peer timed in the same group), or that ratio over the measured
floor's own (passes of the floor); then the median of those per-n medians,
which for two sizes is their mean."""

import statistics
from dataclasses import dataclass
from typing import Optional

from cases import (CHAIN4_NAME, CONSTRUCTION_NAME, COPY_NAME, FLOOR_NAME, LINREGRESS_NAME,
                   PREDICT_SIZES, SUMMARY_NAME, TOLIST_NAMES)
from timing import paired_ratios, ratios_between

MEMORY_LIMIT_KIB = 1024
# The sizes the timing targets are set at; a run judges those it measured.
TARGET_SIZES = (1_000_000, 10_000_000)


@dataclass(frozen=True)
class Target:
    case: str
    limit: float
    against: Optional[str] = None  # None: the one-pass unit
    strict: bool = False  # must be below the limit, not just at most
    in_floors: bool = False  # counted in passes of the floor instead of the unit
    # None: judged at TARGET_SIZES; given: these, and every one must meet the limit
    sizes: Optional[tuple] = None

    def label(self) -> str:
        return f"{self.case} / {self.against or ('floor' if self.in_floors else 'one pass')}"

    def meets(self, figure: float) -> bool:
        return figure < self.limit if self.strict else figure <= self.limit

    def limit_text(self) -> str:
        return f"{'<' if self.strict else '<='} {self.limit:g}"


def _unit_targets(names, limit):
    return [Target(name, limit) for name in names]


TIMING_TARGETS = (
    _unit_targets(["mean_x", "mean_y"], 1.15)
    + _unit_targets(["std_x", "std_y", "pearson_correlation", "slope", "intercept", "predict_single"], 2.3)
    + _unit_targets(["rmse", "mae", "r_squared", "residual_std_error", "slope_standard_error",
                     "t_value_slope"], 3.5)
    + [Target(SUMMARY_NAME, 4.5, in_floors=True),
       Target(CONSTRUCTION_NAME, 1.3, against=COPY_NAME),
       Target(CHAIN4_NAME, 1.0, against=LINREGRESS_NAME, strict=True)]
    + [Target(name, 1.25, against=tolist, sizes=PREDICT_SIZES) for name, tolist in TOLIST_NAMES.items()]
)


def ratio_at(target: Target, samples: dict) -> float:
    sample = samples[target.case]
    if target.against is not None:
        return statistics.median(ratios_between(sample, samples[target.against]))
    passes = statistics.median(paired_ratios(sample))
    return in_floors(passes, samples) if target.in_floors else passes


def in_floors(passes: float, samples: dict) -> float:
    """Unit passes as passes of the measured floor: both are paired with the
    unit, so their quotient is too."""
    return passes / statistics.median(paired_ratios(samples[FLOOR_NAME]))


def floor_ratio_at(target: Target, samples: dict) -> Optional[float]:
    """The same call in passes of the measured floor, for information."""
    if target.against is not None or FLOOR_NAME not in samples:
        return None
    return in_floors(statistics.median(paired_ratios(samples[target.case])), samples)


def judgeable(target: Target, samples_by_n: dict) -> bool:
    """Without a C compiler there is no floor to count passes of. Only the
    sizes at which the call was timed count (the small model has no floor)."""
    return not target.in_floors or all(FLOOR_NAME in samples for samples in samples_by_n.values()
                                       if target.case in samples)


def judge_timing(samples_by_n: dict) -> list[dict]:
    verdicts = []
    for target in filter(lambda target: judgeable(target, samples_by_n), TIMING_TARGETS):
        covered = [n for n in (target.sizes or TARGET_SIZES) if target.case in samples_by_n.get(n, {})]
        if not covered:
            continue
        per_n = {n: ratio_at(target, samples_by_n[n]) for n in covered}
        figure = statistics.median(per_n.values())
        floor_per_n = [floor_ratio_at(target, samples_by_n[n]) for n in covered]
        misses_at = [n for n, ratio in per_n.items() if not target.meets(ratio)]
        verdicts.append({
            "target": target.label(), "limit": target.limit_text(), "per_n": per_n,
            "figure": figure, "pass": target.meets(figure) and not (target.sizes and misses_at),
            "misses_at": misses_at,
            "floor_per_n": dict(zip(covered, floor_per_n)) if None not in floor_per_n else None,
        })
    return verdicts


def judge_memory(memory: dict) -> dict:
    measured = {name: result for name, result in memory.items() if not name.startswith("control")}
    worst = max(measured, key=lambda name: measured[name]["extra_kib"])
    extra = measured[worst]["extra_kib"]
    return {"target": "extra peak memory of any statistic", "limit": f"< {MEMORY_LIMIT_KIB} KiB",
            "worst": worst, "figure": extra, "pass": extra < MEMORY_LIMIT_KIB}
