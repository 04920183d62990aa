"""Fit the same data with trendfit and with scipy.stats.linregress and compare.

Needs SciPy: pip install "trendfit[examples]".
"""

import math
import warnings
from pathlib import Path

import numpy as np
from scipy import stats

from trendfit import LinearRegression

DATA = Path(__file__).parent / "data" / "calibration.csv"

# SciPy's last digits depend on the BLAS library it runs on, so the table
# shows ten significant digits; trendfit's digits are the same everywhere.
DIGITS = 10


def fitted_quantities(x, y):
    """The quantities both libraries give, as (name, trendfit value, SciPy value)."""
    fit = LinearRegression(x, y)
    peer = stats.linregress(x, y)
    return [
        ("slope", fit.slope(), peer.slope),
        ("intercept", fit.intercept(), peer.intercept),
        ("correlation r", fit.pearson_correlation(), peer.rvalue),
        ("R squared (SciPy: r**2)", fit.r_squared(), peer.rvalue**2),
        ("slope standard error", fit.slope_standard_error(), peer.stderr),
    ]


def compare_on_calibration_data():
    table = np.loadtxt(DATA, delimiter=",", skiprows=1)
    pressure, voltage = table[:, 0], table[:, 1]
    print(f"Pressure-sensor calibration, {len(pressure)} readings (examples/data/{DATA.name})")
    print()
    print(f"{'':30}{'trendfit':>18}{'SciPy':>18}")
    agree = True
    for name, ours, theirs in fitted_quantities(pressure, voltage):
        ours_text, theirs_text = f"{ours:.{DIGITS}g}", f"{float(theirs):.{DIGITS}g}"
        agree = agree and ours_text == theirs_text
        print(f"{name:30}{ours_text:>18}{theirs_text:>18}")
    print()
    print(f"Same to {DIGITS} significant digits: {'yes' if agree else 'NO'}")


def scipy_slope_and_error(x, y):
    """SciPy's slope and its standard error, or the exception that it raises instead."""
    try:
        with warnings.catch_warnings():
            warnings.simplefilter("ignore")  # SciPy warns about some of these; the values say enough
            result = stats.linregress(x, y)
    except ValueError as error:
        return error
    return result.slope, result.stderr


def describe(outcome):
    if isinstance(outcome, Exception):
        return type(outcome).__name__
    slope, error = outcome
    return f"{float(slope):.6g}, {float(error):.6g}"


# Two points and constant x are left out: SciPy's answers to them changed in
# SciPy 1.18 (see the README).
DEGENERATE = [
    ("constant y", [1.0, 2.0, 4.0], [5.0, 5.0, 5.0]),
    ("a NaN in x", [1.0, math.nan, 3.0], [1.0, 2.0, 3.0]),
    ("x = y, magnitude 1e-100", [1e-100, 2e-100, 3e-100], [1e-100, 2e-100, 3e-100]),
]


def compare_on_degenerate_data():
    print(f"{'Slope and its standard error':30}{'trendfit':>18}{'SciPy':>18}")
    for name, x, y in DEGENERATE:
        fit = LinearRegression(x, y)
        ours = describe((fit.slope(), fit.slope_standard_error()))
        theirs = describe(scipy_slope_and_error(x, y))
        print(f"{name:30}{ours:>18}{theirs:>18}")


compare_on_calibration_data()
print()
compare_on_degenerate_data()
