"""The performance targets and how a run is judged against them.

A timing target's figure at an n is the median over repeats of a paired
ratio: the call's time over the floor's time measured right before it, or
over the reference timed back to back with it in the same group. A run
without a floor is not judged."""

from dataclasses import dataclass

from cases import CONSTRUCTION, COPY, PASSES, PREDICT_PAIRS, SUMMARY
from timing import best_floors, floors, versus

MEMORY_LIMIT_KIB = 1024
# Each target is judged at the largest n whose data fits in a cache that the
# call does not share with the host's other work: from memory, how much a call
# costs over the floor or the reference depends on the machine's memory more
# than on the call. Both arrays take 16 MB at 10^6 (160 MB at 10^7), within a
# last-level cache. predict reads a list of floats and makes one, 32 bytes a
# value each: at 10^5 (3.2 MB) they spill from a core's L2 cache, and reading
# the input's floats from the shared cache put predict(list) at 1.13 to 1.32
# x tolist() from run to run on one idle 2-core VM, against 1.00 to 1.12 at
# 10^4. So predict is judged at 10^4. The quick and the full run judge the same
# sizes; the others are for reading.
JUDGED_AT, PREDICT_JUDGED_AT = 1_000_000, 10_000
FLOOR_LIMITS = {"one pass": 1.15, "two passes, one array": 2.3, "two passes, both arrays": 2.3,
                "three passes, both arrays": 3.5}
MOVED = 0.05  # --compare flags a trendfit call whose best ratio changed by more


@dataclass(frozen=True)
class Target:
    case: str
    limit: float
    against: str | None = None  # None: the floor
    n: int = JUDGED_AT

    def ratio(self, samples: dict) -> float:
        return versus(samples[self.case], samples[self.against]) if self.against else floors(samples[self.case])


TIMING_TARGETS = (
    [Target(name, FLOOR_LIMITS[group]) for group, names in PASSES.items() for name in names]
    + [Target(SUMMARY, 4.5), Target(CONSTRUCTION, 1.3, against=COPY)]
    + [Target(name, 1.25, against=tolist, n=PREDICT_JUDGED_AT) for name, tolist in PREDICT_PAIRS.items()]
)


def judge_timing(samples_by_n: dict) -> list[dict]:
    verdicts = []
    for target in (target for target in TIMING_TARGETS if target.n in samples_by_n):
        figure = target.ratio(samples_by_n[target.n])
        verdicts.append({"target": f"{target.case} / {target.against or 'floor'}", "limit": target.limit,
                         "n": target.n, "figure": figure, "pass": figure <= target.limit})
    return verdicts


def judge_memory(memory: dict) -> dict:
    measured = {name: result for name, result in memory.items() if not name.startswith("control")}
    worst = max(measured, key=lambda name: measured[name]["extra_kib"])
    extra = measured[worst]["extra_kib"]
    return {"target": "extra peak memory of any statistic", "limit": f"< {MEMORY_LIMIT_KIB} KiB",
            "worst": worst, "figure": extra, "pass": extra < MEMORY_LIMIT_KIB}


# The reference each call's target is stated against, where it is not the floor.
REFERENCES = {target.case: target.against for target in TIMING_TARGETS if target.against}


def best_ratio(samples: dict, name: str) -> float | None:
    """A call's best time over the best time of what its target is stated
    against: its reference (a NumPy copy, tolist()), or else the floor. A call
    that allocates is so compared with one that allocates as much, not with
    the floor, which allocates nothing. None where the run did not time the
    call or its reference."""
    reference = REFERENCES.get(name)
    if name not in samples or (reference and reference not in samples):
        return None
    if reference:
        return min(samples[name]["ns"]) / min(samples[reference]["ns"])
    return best_floors(samples, name)


def moved(before: dict, after: dict, name: str) -> float | None:
    """The relative change of a call's best ratio from an earlier run."""
    ratios = best_ratio(before, name), best_ratio(after, name)
    return None if None in ratios else ratios[1] / ratios[0] - 1


def flagged(before: dict, after: dict, name: str) -> bool:
    """A trendfit call whose best ratio moved by more than MOVED."""
    change = moved(before, after, name)
    return change is not None and abs(change) > MOVED and after[name]["kind"] == "trendfit"
