"""Imports trendfit, which must not import NumPy; imports it again after taking it out of
sys.modules, which must give the same module and class; and constructs, which loads NumPy."""

import sys

import trendfit

assert "numpy" not in sys.modules, "importing trendfit imported numpy"
first, cls = trendfit, trendfit.LinearRegression
del sys.modules["trendfit"]
import trendfit  # noqa: E402

assert trendfit is first and trendfit.LinearRegression is cls
trendfit.LinearRegression([1.0], [2.0])
assert "numpy" in sys.modules
