# pyright: strict
"""A typed client of trendfit that uses every kind of member, for the type checkers.

mypy --strict and pyright --strict must accept it without a single error,
and it also runs: each value is checked at run time to be exactly the type
that assert_type() states for the checkers.
"""

from collections.abc import Callable
from decimal import Decimal
from fractions import Fraction
from typing import assert_type

import numpy as np
import pandas as pd
import polars as pl

from trendfit import LinearRegression


def exactly_float(value: float) -> float:
    assert type(value) is float, type(value)
    return value


def exactly_float_list(values: list[float]) -> list[float]:
    assert type(values) is list and all(type(v) is float for v in values), values
    return values


class Calibration(LinearRegression):
    """Subclassing works; the base initialiser takes x and y positionally."""

    def __init__(self, readings: list[tuple[float, float]]) -> None:
        super().__init__([r[0] for r in readings], [r[1] for r in readings])


def statistics(fit: LinearRegression) -> list[float]:
    """Every statistic has this one signature, checked against the runtime member by member by the
    stub tests; a few stand for them all here."""
    return [
        exactly_float(assert_type(fit.mean_x(), float)),
        exactly_float(assert_type(fit.slope(), float)),
        exactly_float(assert_type(fit.r_squared(), float)),
    ]


def single_predictions(fit: LinearRegression) -> list[float]:
    """predict_single takes anything with __float__ or __index__."""
    return [
        exactly_float(assert_type(fit.predict_single(value), float))
        for value in (2.5, 2, True, np.float32(2.0), np.int64(2), Fraction(5, 2), Decimal("2.5"))
    ]


def list_predictions(fit: LinearRegression) -> list[list[float]]:
    """predict takes sequences, sets, dict views, generators, map objects and arrays."""
    return [
        exactly_float_list(assert_type(fit.predict([1.0, 2, np.float64(3.0)]), list[float])),
        exactly_float_list(assert_type(fit.predict((1.0, 2.0)), list[float])),
        exactly_float_list(assert_type(fit.predict(range(3)), list[float])),
        exactly_float_list(assert_type(fit.predict({1.0, 2.0}), list[float])),
        exactly_float_list(assert_type(fit.predict(frozenset({1.0})), list[float])),
        exactly_float_list(assert_type(fit.predict({1.0: "a"}.keys()), list[float])),
        exactly_float_list(assert_type(fit.predict({"a": 1.0}.values()), list[float])),
        exactly_float_list(assert_type(fit.predict(v / 2 for v in range(4)), list[float])),
        exactly_float_list(assert_type(fit.predict(map(float, "123")), list[float])),
        exactly_float_list(assert_type(fit.predict(np.linspace(0.0, 1.0, 5)), list[float])),
        exactly_float_list(assert_type(fit.predict(np.arange(4)), list[float])),
        exactly_float_list(assert_type(fit.predict([]), list[float])),
    ]


# Data-science code: data-frame columns and exact numbers (pandas checked through pandas-stubs).
FRAME = pd.DataFrame({"x": [1.0, 2.0, 3.0, 4.0], "y": [2.1, 3.9, 6.2, 7.8]})
TABLE = pl.DataFrame({"x": [5.0, 6.0]})


def column_predictions(fit: LinearRegression) -> list[list[float]]:
    """predict takes pandas Series and Index and polars Series."""
    return [
        exactly_float_list(assert_type(fit.predict(FRAME["x"]), list[float])),
        exactly_float_list(assert_type(fit.predict(FRAME.index), list[float])),
        exactly_float_list(assert_type(fit.predict(pd.Series([5, 6])), list[float])),
        exactly_float_list(assert_type(fit.predict(TABLE["x"]), list[float])),
        exactly_float_list(assert_type(fit.predict(pl.Series([5.0, 6.0])), list[float])),
    ]


def main() -> None:
    fits = [
        LinearRegression(np.array([1.0, 2.0, 3.0, 4.0]), np.array([2.0, 4.1, 5.9, 8.2])),
        LinearRegression([1, 2, 3], (2, 4, 7)),
        LinearRegression(np.arange(6.0).reshape(2, 3), range(6)),
        Calibration([(1.0, 2.0), (2.0, 3.5), (4.0, 8.0)]),
        LinearRegression(FRAME["x"], FRAME["y"]),
        LinearRegression([Decimal("1.5"), Decimal("2.5")], [Fraction(1, 3), Fraction(2, 3)]),
        LinearRegression([np.float32(1.0), np.float32(2.5)], TABLE["x"]),
    ]
    for fit in fits:
        statistics(fit)
        single_predictions(fit)
        list_predictions(fit)
        column_predictions(fit)
        report: Callable[[], None] = fit.summary
        report()


if __name__ == "__main__":
    main()
