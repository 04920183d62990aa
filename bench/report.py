"""Printing a run: one table per n, the memory figures, the targets, and one
line per call for comparing two runs."""

import statistics

from cases import FLOOR
from targets import MEMORY_LIMIT_KIB, MOVED, REFERENCES, best_ratio, flagged, moved
from timing import all_floor_ns, floors, versus

NAME_WIDTH = 34
LEGEND = """x floor: median over repeats of (time / the floor's time measured right before it).
trendfit/peer: per-repeat ratio inside one group, median: LinearRegression(x, y) for the NumPy copy, the
  four-call chain for linregress and OLS, slope+intercept for polyfit and sklearn, predict (model of 1,000
  samples) for tolist() of the same values. The peers are comparisons, never targets: they may use every
  BLAS thread, trendfit uses one."""


def size_text(n: int) -> str:
    return f"1e{len(str(n)) - 1}" if n == 10 ** (len(str(n)) - 1) else f"{n:,}"


def size_table(n: int, samples: dict) -> str:
    floor_ns = all_floor_ns(samples)
    if floor_ns:
        spread = floor_ns[int(0.9 * (len(floor_ns) - 1))] / floor_ns[int(0.1 * (len(floor_ns) - 1))]
        median = statistics.median(floor_ns)
        heading = (f"n = {n:,}: {FLOOR}: median {median / 1e9:.3e} s, best {floor_ns[0] / 1e9:.3e} s, "
                   f"{median / n:.2f} ns/element, p90/p10 over {len(floor_ns)} calls {spread:.2f}")
    else:
        heading = f"n = {n:,}: no floor (no C compiler), times only"
    lines = [heading, (f"{'name':<{NAME_WIDTH}} {'median s':>10} {'best s':>10} {'ns/elem':>8} {'x floor':>8} "
                       f"{'trendfit/peer':>13}")]
    for name, sample in samples.items():
        ratio, peer = floors(sample), sample["compared_with"]
        median_s = statistics.median(sample["ns"]) / 1e9
        lines.append(f"{name:<{NAME_WIDTH}} {median_s:10.3e} {min(sample['ns']) / 1e9:10.3e} {median_s * 1e9 / n:8.2f} "
                     f"{'-' if ratio is None else f'{ratio:8.2f}':>8}"
                     + (f" {versus(samples[peer], sample):13.2f}" if peer else ""))
    return "\n".join(lines)


def memory_table(n: int, memory: dict) -> str:
    lines = [(f"Extra peak resident memory during one call, n = {n:,} (child process, worst of 3; target < "
              f"{MEMORY_LIMIT_KIB} KiB)"), f"{'call':<{NAME_WIDTH}} {'extra KiB':>10} {'slack KiB':>10}"]
    lines += [f"{name:<{NAME_WIDTH}} {result['extra_kib']:>10} {result['slack_kib']:>10}"
              for name, result in memory.items()]
    lines.append("extra: peak during the call minus resident size just before it; 'control: nothing' shows the "
                 "measurement's own noise")
    if not all(result["peak_reset"] for result in memory.values()):
        lines.append("(peak could not be reset: one child per call; a temporary smaller than 'slack' would not show)")
    return "\n".join(lines)


def targets_table(verdicts: list) -> str:
    """The timing verdicts, then the memory verdict if there is one."""
    timing_verdicts = [verdict for verdict in verdicts if "n" in verdict]
    width = max(len(verdict["target"]) for verdict in timing_verdicts)
    lines = ["Targets: median over repeats of the paired ratio, at the n where the call's data fits in cache",
             f"{'target':<{width}} {'n':>4} {'limit':>6} {'figure':>7}  verdict"]
    lines += [f"{verdict['target']:<{width}} {size_text(verdict['n']):>4} {verdict['limit']:6.2f} "
              f"{verdict['figure']:7.2f}  {'PASS' if verdict['pass'] else 'MISS'}" for verdict in timing_verdicts]
    for memory_verdict in (verdict for verdict in verdicts if "worst" in verdict):
        lines.append(f"{memory_verdict['target']} {memory_verdict['limit']}: {memory_verdict['figure']} KiB "
                     f"({memory_verdict['worst']})  {'PASS' if memory_verdict['pass'] else 'MISS'}")
    missed = sum(not verdict["pass"] for verdict in verdicts)
    lines.append(f"{missed} of {len(verdicts)} targets missed" if missed else f"all {len(verdicts)} targets met")
    return "\n".join(lines)


def ratios_table(samples_by_n: dict, earlier_by_n=None) -> str:
    """One line per call: its best ratio at each n, beside an earlier run's
    when given, with a trendfit call that moved by more than MOVED flagged."""
    # Every call, in the order of the size that timed the most of them.
    names = dict.fromkeys(name for samples in sorted(samples_by_n.values(), key=len, reverse=True) for name in samples)
    if earlier_by_n is None:
        how = "diff two runs' lines, or give an earlier run's benchmark.json to --compare"
        columns = " ".join(f"{'n=' + size_text(n):>8}" for n in samples_by_n)
    else:
        how = (f"'<<': a trendfit call that moved by more than {MOVED:.0%}; the peers and references do not change "
               "with trendfit's build, so their changes show the noise")
        columns = " ".join(f"{'n=' + size_text(n) + ' before':>13} {'after':>6} {'change':>9}" for n in samples_by_n)
    lines = [("best ratio per call: best time over the best time, in the same run, of the floor or (unit 'ref') of "
              f"the reference its target is stated against;\n  {how}"), f"{'call':<{NAME_WIDTH}} unit  {columns}"]
    for name in names:
        if earlier_by_n is None:
            cells = [best_cell(samples, name, 8) for samples in samples_by_n.values()]
        else:
            cells = [comparison_cells(earlier_by_n.get(n, {}), samples, name) for n, samples in samples_by_n.items()]
        lines.append(f"{name:<{NAME_WIDTH}} {'ref' if name in REFERENCES else 'floor':5} " + " ".join(cells))
    if earlier_by_n is not None:
        moved_calls = [f"{name} at n={size_text(n)}" for n, samples in samples_by_n.items() for name in samples
                       if flagged(earlier_by_n.get(n, {}), samples, name)]
        lines.append(f"moved by more than {MOVED:.0%}: {', '.join(moved_calls) or 'no trendfit call'}")
    return "\n".join(lines)


def best_cell(samples: dict, name: str, width: int) -> str:
    ratio = best_ratio(samples, name)
    return f"{'-':>{width}}" if ratio is None else f"{ratio:{width}.2f}"


def comparison_cells(before: dict, after: dict, name: str) -> str:
    change = moved(before, after, name)
    text = ("-" if change is None else f"{change:+.0%}") + (" <<" if flagged(before, after, name) else "")
    return f"{best_cell(before, name, 13)} {best_cell(after, name, 6)} {text:>9}"
