"""10^5 cycles of construct, call every method (the failing calls too), destroy;
measures, after warm-up, the growth of resident memory and of the interpreter's
allocated blocks and the argument objects' reference counts before and after.

    leaks.py RESULTS_PATH

writes the measurements to RESULTS_PATH as JSON.
"""

import gc
import json
import os
import pathlib
import sys

import numpy as np

from helpers import STATISTICS, Boom, address_sanitizer_loaded, raising_generator
from trendfit import LinearRegression

CYCLES = 100_000
WARM_UP = 10_000


def expect(error_type, call, *args):
    try:
        call(*args)
    except error_type:
        return
    raise AssertionError(f"{call} did not raise {error_type.__name__}")


def cycle(index, x_list, y_list, x_array, y_array, probes, probe):
    """One life: built from lists or arrays, every method, every failure path, gone."""
    fit = LinearRegression(x_array, y_array) if index % 2 else LinearRegression(x_list, y_list)
    for name in STATISTICS:
        getattr(fit, name)()
    fit.predict_single(probe)
    fit.predict(probes)
    fit.predict(x_array)
    try:
        fit.summary()
    except OSError:
        pass  # standard output is full: the report fails, and the next one tries again
    assert fit.__init__(x_list, y_list) is None
    expect(RuntimeError, LinearRegression, x_list, y_list[:-1])
    expect(TypeError, LinearRegression, x_list, ["a", "b"])
    expect(TypeError, fit.predict_single, "2.5")
    expect(TypeError, fit.predict, [probe, None])
    expect(Boom, fit.predict, raising_generator([*probes, None], len(probes)))
    expect(TypeError, LinearRegression.mean_x, LinearRegression.__new__(LinearRegression))


def resident_bytes():
    with open("/proc/self/statm") as statm:
        return int(statm.read().split()[1]) * os.sysconf("SC_PAGE_SIZE")


def measure():
    gc.collect()
    return resident_bytes(), sys.getallocatedblocks()


def run(results_path):
    rng = np.random.default_rng(5)
    x_array, y_array = rng.normal(size=100), rng.normal(size=100)
    arguments = [x_array.tolist(), y_array.tolist(), x_array, y_array, [0.5, -2.0, 7.25], 1.0 + 2.0 ** -30]
    for index in range(WARM_UP):
        cycle(index, *arguments)
    counts_before = [sys.getrefcount(a) for a in arguments]
    rss_before, blocks_before = measure()
    for index in range(WARM_UP, CYCLES):
        cycle(index, *arguments)
    rss_after, blocks_after = measure()
    pathlib.Path(results_path).write_text(json.dumps({
        "reference counts": [counts_before, [sys.getrefcount(a) for a in arguments]],
        "rss growth": rss_after - rss_before,
        "block growth": blocks_after - blocks_before,
        # The sanitizer's quarantine holds freed memory back by design; its leak checker covers that run.
        "address sanitizer": address_sanitizer_loaded(),
    }))


if __name__ == "__main__":
    run(sys.argv[1])
