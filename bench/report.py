"""Printing a run: one table per n, the memory figures, the targets, and one
line per call for comparing two runs."""

import statistics

from cases import UNIT
from targets import MEMORY_LIMIT_KIB, in_floors
from timing import best_passes, passes, versus

NAME_WIDTH = 34
LEGEND = """x pass: median over repeats of (time / one-pass time measured right before it); \
x floor: x pass / the floor's x pass.
  trendfit/peer: LinearRegression(x, y) for the NumPy copy, the four-call chain for linregress and OLS,
  slope+intercept for polyfit and sklearn, predict for tolist() of the same values (model of 1,000 samples); \
per-repeat ratios inside one group, median"""


def size_text(n: int) -> str:
    return f"1e{len(str(n)) - 1}" if n == 10 ** (len(str(n)) - 1) else f"{n:,}"


def size_table(n: int, samples: dict) -> str:
    unit_ns = sorted(t for sample in samples.values() for t in sample["unit_ns"])
    spread = unit_ns[int(0.9 * (len(unit_ns) - 1))] / unit_ns[int(0.1 * (len(unit_ns) - 1))]
    median = statistics.median(unit_ns)
    lines = [(f"n = {n:,}: one pass = {UNIT.split(': ')[1]}: median {median / 1e9:.3e} s, "
              f"best {unit_ns[0] / 1e9:.3e} s, {median / n:.2f} ns/element, "
              f"p90/p10 over {len(unit_ns)} calls {spread:.2f}"),
             (f"{'name':<{NAME_WIDTH}} {'median s':>10} {'best s':>10} {'ns/elem':>8} {'x pass':>7} {'x floor':>8} "
              f"{'trendfit/peer':>13}")]
    for name, sample in samples.items():
        floors = in_floors(name, samples)
        peer = sample.get("compared_with")
        median_s = statistics.median(sample["ns"]) / 1e9
        lines.append(f"{name:<{NAME_WIDTH}} {median_s:10.3e} {min(sample['ns']) / 1e9:10.3e} {median_s * 1e9 / n:8.2f} "
                     f"{passes(sample):7.2f} {f'{floors:8.2f}' if floors else '-':>8} "
                     + (f"{versus(samples[peer], sample):13.2f}" if peer else ""))
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
    timing_verdicts = [verdict for verdict in verdicts if "per_n" in verdict]
    width = max(len(verdict["target"]) for verdict in timing_verdicts)
    lines = [("Targets: median over repeats of paired ratios at each n, then the median of those (with two sizes, "
              "their mean).\n'fl': the same call in units of the measured floor (x pass / the floor's x pass), "
              "for information; verdicts use the one-pass unit.")]
    sizes = None
    for verdict in timing_verdicts:
        if list(verdict["per_n"]) != sizes:  # a heading for each set of sizes judged
            sizes = list(verdict["per_n"])
            lines.append(f"{'target':<{width}} {'limit':>8} " + " ".join(f"{'n=' + size_text(n):>8}" for n in sizes)
                         + f" {'figure':>8} " + " ".join(f"{'fl ' + size_text(n):>7}" for n in sizes) + "  verdict")
        floors = verdict["floor_per_n"]
        lines.append(f"{verdict['target']:<{width}} {verdict['limit']:>8} "
                     + " ".join(f"{verdict['per_n'][n]:8.2f}" for n in sizes) + f" {verdict['figure']:8.2f} "
                     + " ".join(f"{floors[n]:7.2f}" if floors else f"{'':7}" for n in sizes)
                     + f"  {verdict_text(verdict)}")
    for memory_verdict in (verdict for verdict in verdicts if "worst" in verdict):
        lines.append(f"{memory_verdict['target']:<{width}} {memory_verdict['limit']:>8} "
                     f"{memory_verdict['figure']:>{17 * len(sizes) + 8}} KiB ({memory_verdict['worst']})  "
                     f"{'PASS' if memory_verdict['pass'] else 'MISS'}")
    return "\n".join(lines)


def verdict_text(verdict: dict) -> str:
    over = 100 * (verdict["figure"] / float(verdict["limit"].split()[-1]) - 1)
    text = "PASS" if verdict["pass"] else f"MISS by {over:.0f}%" if over > 0 else "MISS"  # else: over at one size
    if verdict["misses_at"]:
        text += " (over at n=" + ", ".join(size_text(n) for n in verdict["misses_at"]) + ")"
    return text


def ratios_table(samples_by_n: dict, earlier_by_n=None) -> str:
    """One line per call: its best x pass at each n, beside an earlier run's
    when given, to see whether a build made any call slower."""
    # Every call, in the order of the size that timed the most of them.
    names = dict.fromkeys(name for samples in sorted(samples_by_n.values(), key=len, reverse=True) for name in samples)
    if earlier_by_n is None:
        how = "diff two runs' lines, or give an earlier run's benchmark.json to --compare"
        columns = " ".join(f"{'n=' + size_text(n):>8}" for n in samples_by_n)
    else:
        how = "before: the earlier run; the peers and references do not change with trendfit's build, so their " \
              "changes show the noise"
        columns = " ".join(f"{'n=' + size_text(n) + ' before':>13} {'after':>6} {'change':>7}" for n in samples_by_n)
    lines = [("best x pass per call: best time over the best one-pass time of the same run, steadier from run to "
              f"run than the medians;\n  {how}"), f"{'call':<{NAME_WIDTH}} {columns}"]
    for name in names:
        if earlier_by_n is None:
            cells = [best_cell(samples, name, 8) for samples in samples_by_n.values()]
        else:
            cells = [comparison_cells(earlier_by_n.get(n, {}), samples, name) for n, samples in samples_by_n.items()]
        lines.append(f"{name:<{NAME_WIDTH}} " + " ".join(cells))
    return "\n".join(lines)


def best_cell(samples: dict, name: str, width: int) -> str:
    return f"{best_passes(samples, name):{width}.2f}" if name in samples else f"{'-':>{width}}"


def comparison_cells(before: dict, after: dict, name: str) -> str:
    change = "-"
    if name in before and name in after:
        change = f"{100 * (best_passes(after, name) / best_passes(before, name) - 1):+.0f}%"
    return f"{best_cell(before, name, 13)} {best_cell(after, name, 6)} {change:>7}"
