"""The log-log plot of median time against n: trendfit's calls on the left,
the comparisons with peers and references on the right, same scales."""

import matplotlib

matplotlib.use("Agg")  # files only, no screen
import matplotlib.pyplot as plt

from cases import (CHAIN2_NAME, CHAIN4_NAME, CONSTRUCTION_NAME, COPY_NAME, FLOOR_NAME,
                   LINREGRESS_NAME, OLS_NAME, POLYFIT_NAME, PREDICT_NAME, SKLEARN_NAME,
                   SUMMARY_NAME, UNIT_NAME)

# trendfit's calls coloured by how many passes over the data they make, so
# calls that should cost the same share a colour.
PASS_GROUPS = {
    "one pass": (["mean_x", "mean_y"], "tab:blue"),
    "two passes, one array": (["std_x", "std_y"], "tab:green"),
    "two passes, both arrays": (["pearson_correlation", "slope", "intercept", "predict_single",
                                 PREDICT_NAME], "tab:orange"),
    "three passes, both arrays": (["rmse", "mae", "r_squared", "residual_std_error",
                                   "slope_standard_error", "t_value_slope"], "tab:red"),
    "all thirteen, sharing three passes": ([SUMMARY_NAME], "tab:purple"),
    "copy in": ([CONSTRUCTION_NAME], "tab:brown"),
}
MARKERS = "os^vD<>"
COMPARISONS = [CONSTRUCTION_NAME, COPY_NAME, CHAIN2_NAME, CHAIN4_NAME, LINREGRESS_NAME,
               POLYFIT_NAME, OLS_NAME, SKLEARN_NAME]
PEERS = {COPY_NAME, LINREGRESS_NAME, POLYFIT_NAME, OLS_NAME, SKLEARN_NAME}


def series(medians: dict, name: str):
    sizes = sorted(n for n in medians if name in medians[n])
    return sizes, [medians[n][name] for n in sizes]


def draw_references(axes, medians):
    axes.plot(*series(medians, UNIT_NAME), color="black", linewidth=2.5, label=UNIT_NAME)
    if any(FLOOR_NAME in by_name for by_name in medians.values()):
        axes.plot(*series(medians, FLOOR_NAME), color="black", linestyle=":", linewidth=2,
                  label=FLOOR_NAME)


def draw_trendfit_calls(axes, medians):
    for group, (names, colour) in PASS_GROUPS.items():
        for index, (name, marker) in enumerate(zip(names, MARKERS)):
            label = f"{name}  ({group})" if index == 0 else name
            axes.plot(*series(medians, name), marker=marker, markersize=3.5, linewidth=1,
                      color=colour, label=label)
    draw_references(axes, medians)
    decorate(axes, "trendfit calls, coloured by passes over the data")


def draw_comparisons(axes, medians):
    colours = plt.get_cmap("tab10")
    for index, name in enumerate(COMPARISONS):
        axes.plot(*series(medians, name), "--" if name in PEERS else "-", marker="o",
                  markersize=3.5, linewidth=1.2, color=colours(index), label=name)
    draw_references(axes, medians)
    decorate(axes, "trendfit (solid) against peers (dashed)")


def decorate(axes, title):
    axes.set_xscale("log")
    axes.set_yscale("log")
    axes.set_xlabel("n (samples)")
    axes.set_title(title, fontsize=10)
    axes.grid(True, which="major", linewidth=0.4)
    axes.legend(fontsize=6.5, loc="upper left")


def write_plot(medians: dict, path, caption: str):
    """medians: {n: {case name: median seconds}}, the unit included."""
    figure, (left, right) = plt.subplots(1, 2, figsize=(13, 6), sharey=True)
    draw_trendfit_calls(left, medians)
    draw_comparisons(right, medians)
    left.set_ylabel("median seconds per call")
    figure.suptitle(caption, fontsize=9)
    figure.tight_layout()
    figure.savefig(path, dpi=90)
    plt.close(figure)
