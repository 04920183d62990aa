"""Copied as test_capfd.py into a scratch directory and run by pytest in a child
(scenarios.py): pytest's capfd captures the report, which the environment
variable EXPECTED_REPORT holds."""

import os

from trendfit import LinearRegression


def test_capfd(capfd):
    LinearRegression([1.0, 2.0, 3.0], [2.0, 4.0, 6.0]).summary()
    assert capfd.readouterr().out == os.environ["EXPECTED_REPORT"]
