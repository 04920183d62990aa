"""The log-log plot of median time against n: trendfit's calls on the left,
the comparisons with peers and references on the right, same scales."""

import statistics

import matplotlib

matplotlib.use("Agg")  # files only, no screen
import matplotlib.pyplot as plt
from cases import CHAIN2, CHAIN4, CONSTRUCTION, FLOOR, PASSES, SUMMARY
from timing import all_floor_ns

# trendfit's calls coloured by how many passes over the data they make, so
# calls that should cost the same share a colour.
CALL_GROUPS = {**PASSES, "all statistics, sharing three passes": [SUMMARY], "copy in": [CONSTRUCTION]}
COLOURS = ["tab:blue", "tab:green", "tab:orange", "tab:red", "tab:purple", "tab:brown"]
MARKERS = "os^vD<>"
COMPARED = (CONSTRUCTION, CHAIN2, CHAIN4)  # with the NumPy copy, and with the peers


def medians(samples_by_n: dict) -> dict:
    """{n: {case name: median seconds}}, the floor included if there is one."""
    by_n = {n: {name: statistics.median(sample["ns"]) / 1e9 for name, sample in samples.items()}
            for n, samples in samples_by_n.items()}
    for n, samples in samples_by_n.items():
        floor_ns = all_floor_ns(samples)
        if floor_ns:
            by_n[n][FLOOR] = statistics.median(floor_ns) / 1e9
    return by_n


def series(by_n: dict, name: str):
    sizes = sorted(n for n in by_n if name in by_n[n])
    return sizes, [by_n[n][name] for n in sizes]


def draw(axes, by_n: dict, title: str):
    if any(FLOOR in by_name for by_name in by_n.values()):
        axes.plot(*series(by_n, FLOOR), color="black", linewidth=2.5, label=FLOOR)
    axes.set_xscale("log")
    axes.set_yscale("log")
    axes.set_xlabel("n (samples)")
    axes.set_title(title, fontsize=10)
    axes.grid(True, which="major", linewidth=0.4)
    axes.legend(fontsize=6.5, loc="upper left")


def write_plot(samples_by_n: dict, path, caption: str):
    by_n = medians(samples_by_n)
    figure, (left, right) = plt.subplots(1, 2, figsize=(13, 6), sharey=True)
    for (group, names), colour in zip(CALL_GROUPS.items(), COLOURS):
        for index, (name, marker) in enumerate(zip(names, MARKERS)):
            left.plot(*series(by_n, name), marker=marker, markersize=3.5, linewidth=1, color=colour,
                      label=f"{name}  ({group})" if index == 0 else name)
    draw(left, by_n, "trendfit calls, coloured by passes over the data")
    kinds = {name: sample["kind"] for samples in samples_by_n.values() for name, sample in samples.items()
             if name in COMPARED or sample["compared_with"] in COMPARED}
    for index, (name, kind) in enumerate(kinds.items()):
        right.plot(*series(by_n, name), "-" if kind == "trendfit" else "--", marker="o", markersize=3.5,
                   linewidth=1.2, color=plt.get_cmap("tab10")(index), label=name)
    draw(right, by_n, "trendfit (solid, CPU time of its thread) against peers (dashed, wall clock)")
    left.set_ylabel("median seconds per call")
    figure.suptitle(caption, fontsize=9)
    figure.tight_layout()
    figure.savefig(path, dpi=90)
    plt.close(figure)
