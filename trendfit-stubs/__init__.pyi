"""Bit-reproducible simple linear regression: y = intercept + slope * x."""

from collections.abc import Generator, Sequence, Set, ValuesView
from typing import Any, SupportsFloat, SupportsIndex, TypeAlias

import numpy as np
import numpy.typing as npt

# A number the module converts to a C double: a float, or anything with
# __float__ or __index__ (int, bool, NumPy scalars, Fraction, Decimal).
_Number: TypeAlias = SupportsFloat | SupportsIndex

# The collections of numbers that predict() accepts. Any sequence but str and
# bytes, the set types and dict views, generators and map objects; a NumPy
# array counts as a sequence of its elements. (bytes type-checks as a
# sequence of ints but is rejected at run time.)
_Numbers: TypeAlias = (
    Sequence[_Number]
    | Set[_Number]
    | ValuesView[_Number]
    | Generator[_Number, Any, Any]
    | map[_Number]
    | npt.NDArray[np.floating[Any] | np.integer[Any] | np.bool_]
)

class LinearRegression:
    """Least-squares fit of y = intercept + slope * x to paired samples.

    The samples are copied at construction and never change; every method
    recomputes its result from them, summing in index order with exact IEEE
    double arithmetic, so equal inputs give bit-identical results.
    Degenerate data (n < 2, constant x or y, NaN, infinities) gives NaN or
    infinities instead of raising.
    """

    def __init__(self, x: npt.ArrayLike, y: npt.ArrayLike, /) -> None:
        """Copy x and y (anything NumPy converts to float64, read in row-major order).

        Raises RuntimeError if they hold different numbers of elements and
        TypeError if NumPy cannot convert them.
        """

    def mean_x(self, /) -> float:
        """Mean of x."""

    def mean_y(self, /) -> float:
        """Mean of y."""

    def pearson_correlation(self, /) -> float:
        """Pearson r = Sxy / sqrt(Sxx * Syy); not clamped to [-1, 1]."""

    def std_x(self, /) -> float:
        """Sample standard deviation of x (divisor n - 1)."""

    def std_y(self, /) -> float:
        """Sample standard deviation of y (divisor n - 1)."""

    def slope(self, /) -> float:
        """Slope of the fitted line: (std_y / std_x) * r."""

    def intercept(self, /) -> float:
        """Intercept of the fitted line: mean_y - mean_x * slope."""

    def predict_single(self, value: _Number, /) -> float:
        """The fitted line at one value: intercept + slope * value."""

    def predict(self, values: _Numbers, /) -> list[float]:
        """The fitted line at each value, in order, as a new list."""

    def rmse(self, /) -> float:
        """Root mean squared error of the fit at the stored x values."""

    def mae(self, /) -> float:
        """Mean absolute error of the fit at the stored x values."""

    def r_squared(self, /) -> float:
        """R² = 1 - SSres / SStot; not clamped."""

    def residual_std_error(self, /) -> float:
        """Residual standard error: sqrt(SSres / (n - 2))."""

    def slope_standard_error(self, /) -> float:
        """Standard error of the slope: residual_std_error / sqrt(Sxx)."""

    def t_value_slope(self, /) -> float:
        """t value of the slope: slope / slope_standard_error."""

    def summary(self, /) -> None:
        """Write a 13-line report to the process's standard output (file descriptor 1).

        The text bypasses sys.stdout and has reached the descriptor, whole,
        when this returns. Raises OSError, as os.write would, if standard
        output rejects the write.
        """
