"""Prints, as JSON, every statistic and a few predictions for NaN-laden and random data
sets, as complete bit patterns. With a build directory as argument, the module
is loaded from there (and must be).

    all_bits.py [BUILD_DIR]
"""

import json
import math
import sys

if len(sys.argv) > 1:
    sys.path.insert(0, sys.argv[1])
import trendfit  # noqa: E402  (after the build directory is on the path)

if len(sys.argv) > 1:
    assert trendfit.__file__.startswith(sys.argv[1]), trendfit.__file__

import numpy as np  # noqa: E402

from helpers import STATISTICS, nan_data, raw_bits  # noqa: E402


def data_sets():
    yield from nan_data()
    rng = np.random.default_rng(2024)
    for offset, scale in [(0.0, 1.0), (1e9, 1e-3), (-3.5, 1e12), (1e-200, 1e-200)]:
        n = int(rng.integers(3, 2000))
        x = offset + scale * rng.normal(size=n)
        y = 0.75 * x + scale * rng.standard_cauchy(size=n)
        yield x.tolist(), y.tolist()
        # NaNs of both signs and infinities, where operand order decides which NaN comes out.
        x[rng.integers(0, n, 3)] = [math.nan, -math.nan, math.inf]
        y[rng.integers(0, n, 2)] = [-math.nan, -math.inf]
        yield x.tolist(), y.tolist()


def results():
    out = []
    for x, y in data_sets():
        fit = trendfit.LinearRegression(x, y)
        probes = x[:50] + [math.nan, -math.nan, math.inf]
        out.append([raw_bits(getattr(fit, name)()) for name in STATISTICS] + [raw_bits(v) for v in fit.predict(probes)])
    return out


print(json.dumps(results()))
