"""Printing a run: one table per n, the memory figures, the targets, and one
line per call for comparing two runs."""

import statistics
from typing import Optional

from cases import ROW_ORDER, UNIT_NAME, FLOOR_NAME
from targets import MEMORY_LIMIT_KIB
from timing import best_passes, ratios_between, summarise

NAME_WIDTH = 34
PEER_NOTE = ("trendfit/peer: LinearRegression(x, y) for the NumPy copy, the four-call chain for "
             "linregress and OLS,\n  slope+intercept for polyfit and sklearn, predict for tolist() of the same "
             "values (model of 1,000 samples); per-repeat ratios "
             "inside one group, median")


def size_text(n: int) -> str:
    exponent = len(str(n)) - 1
    return f"1e{exponent}" if n == 10 ** exponent else f"{n:,}"


def unit_line(n: int, unit_ns: list) -> str:
    ordered = sorted(unit_ns)
    spread = ordered[int(0.9 * (len(ordered) - 1))] / ordered[int(0.1 * (len(ordered) - 1))]
    median = statistics.median(unit_ns)
    return (f"n = {n:,}: one pass = {UNIT_NAME.split(': ')[1]}: median {median / 1e9:.3e} s, "
            f"best {min(unit_ns) / 1e9:.3e} s, {median / n:.2f} ns/element, "
            f"p90/p10 over {len(unit_ns)} calls {spread:.2f}")


def header_row() -> str:
    return (f"{'name':<{NAME_WIDTH}} {'median s':>10} {'best s':>10} {'ns/elem':>8} "
            f"{'x pass':>7} {'x floor':>8} {'trendfit/peer':>13}")


def row(name: str, samples: dict, n: int, floor_passes) -> str:
    """floor_passes: the floor's own x pass; dividing by it keeps the pairing."""
    figures = summarise(samples[name])
    per_floor = f"{figures['ratio_median'] / floor_passes:8.2f}" if floor_passes else f"{'-':>8}"
    peer = samples[name].get("compared_with")
    versus = (f"{statistics.median(ratios_between(samples[peer], samples[name])):13.2f}"
              if peer else "")
    return (f"{name:<{NAME_WIDTH}} {figures['median_s']:10.3e} {figures['best_s']:10.3e} "
            f"{figures['median_s'] * 1e9 / n:8.2f} {figures['ratio_median']:7.2f} {per_floor} {versus}")


def size_table(n: int, samples: dict) -> str:
    all_unit_ns = [t for sample in samples.values() for t in sample["unit_ns"]]
    floor_passes = summarise(samples[FLOOR_NAME])["ratio_median"] if FLOOR_NAME in samples else None
    lines = [unit_line(n, all_unit_ns), header_row()]
    lines += [row(name, samples, n, floor_passes) for name in ROW_ORDER if name in samples]
    return "\n".join(lines)


def legend() -> str:
    return ("x pass: median over repeats of (time / one-pass time measured right before it); "
            "x floor: x pass / the floor's x pass.\n  " + PEER_NOTE)


def memory_table(n: int, memory: dict) -> str:
    lines = [f"Extra peak resident memory during one call, n = {n:,} (child process, worst of "
             f"3; target < {MEMORY_LIMIT_KIB} KiB)",
             f"{'call':<{NAME_WIDTH}} {'extra KiB':>10} {'slack KiB':>10}"]
    for name, result in memory.items():
        lines.append(f"{name:<{NAME_WIDTH}} {result['extra_kib']:>10} {result['slack_kib']:>10}")
    lines.append("extra: peak during the call minus resident size just before it; 'control: "
                 "nothing' shows the measurement's own noise")
    if not all(result["peak_reset"] for result in memory.values()):
        lines.append("(peak could not be reset: one child per call; a temporary smaller than "
                     "'slack' would not show)")
    return "\n".join(lines)


def targets_table(timing_verdicts: list, memory_verdict) -> str:
    width = max(len(verdict["target"]) for verdict in timing_verdicts)
    lines = ["Targets: median over repeats of paired ratios at each n, then the median of "
             "those (with two sizes, their mean).",
             "'fl': the same call in units of the measured floor (x pass / the floor's x pass), for "
             "information; verdicts use the one-pass unit."]
    shown_sizes = None
    for verdict in timing_verdicts:
        verdict_sizes = list(verdict["per_n"])
        if verdict_sizes != shown_sizes:  # a heading for each set of sizes judged
            shown_sizes = verdict_sizes
            columns = " ".join(f"{'n=' + size_text(n):>8}" for n in verdict_sizes)
            floor_columns = " ".join(f"{'fl ' + size_text(n):>7}" for n in verdict_sizes)
            lines.append(f"{'target':<{width}} {'limit':>8} {columns} {'figure':>8} {floor_columns}  verdict")
        per_n = " ".join(f"{verdict['per_n'][n]:8.2f}" for n in verdict_sizes)
        floors = verdict["floor_per_n"]
        per_floor = " ".join(f"{floors[n]:7.2f}" if floors else f"{'':7}" for n in verdict_sizes)
        lines.append(f"{verdict['target']:<{width}} {verdict['limit']:>8} {per_n} "
                     f"{verdict['figure']:8.2f} {per_floor}  {verdict_text(verdict)}")
    if memory_verdict:
        lines.append(f"{memory_verdict['target']:<{width}} {memory_verdict['limit']:>8} "
                     f"{memory_verdict['figure']:>{17 * len(shown_sizes) + 8}} KiB ({memory_verdict['worst']})  "
                     f"{'PASS' if memory_verdict['pass'] else 'MISS'}")
    return "\n".join(lines)


def verdict_text(verdict: dict) -> str:
    if verdict["pass"]:
        text = "PASS"
    else:
        over = 100 * (verdict["figure"] / float(verdict["limit"].split()[-1]) - 1)
        text = f"MISS by {over:.0f}%" if over > 0 else "MISS"  # else: over at one of the sizes
    if verdict["misses_at"]:
        text += " (over at n=" + ", ".join(size_text(n) for n in verdict["misses_at"]) + ")"
    return text


def ratios_table(samples_by_n: dict, earlier_by_n: Optional[dict] = None) -> str:
    """One line per call: its best x pass at each n, beside an earlier run's
    when given, to see whether a build made any call slower."""
    sizes = list(samples_by_n)
    names = [name for name in ROW_ORDER if any(name in samples for samples in samples_by_n.values())]
    if earlier_by_n is None:
        how = "diff two runs' lines, or give an earlier run's benchmark.json to --compare"
        columns = " ".join(f"{'n=' + size_text(n):>8}" for n in sizes)
    else:
        how = ("before: the earlier run; the peers and references do not change with trendfit's "
               "build, so their changes show the noise")
        columns = " ".join(f"{'n=' + size_text(n) + ' before':>13} {'after':>6} {'change':>7}" for n in sizes)
    lines = ["best x pass per call: best time over the best one-pass time of the same run, steadier from "
             f"run to run than the medians;\n  {how}", f"{'call':<{NAME_WIDTH}} {columns}"]
    for name in names:
        cells = [best_cell(samples_by_n[n], name) if earlier_by_n is None
                 else comparison_cells(earlier_by_n.get(n, {}), samples_by_n[n], name) for n in sizes]
        lines.append(f"{name:<{NAME_WIDTH}} " + " ".join(cells))
    return "\n".join(lines)


def best_cell(samples: dict, name: str, width: int = 8) -> str:
    return f"{best_passes(samples, name):{width}.2f}" if name in samples else f"{'-':>{width}}"


def comparison_cells(before: dict, after: dict, name: str) -> str:
    change = "-"
    if name in before and name in after:
        change = f"{100 * (best_passes(after, name) / best_passes(before, name) - 1):+.0f}%"
    return f"{best_cell(before, name, 13)} {best_cell(after, name, 6)} {change:>7}"
