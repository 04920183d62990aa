"""Bit-reproducible simple linear regression: y = intercept + slope * x."""

from collections.abc import Generator, Iterator, Sequence, Set, ValuesView
from typing import Any, Protocol, SupportsFloat, SupportsIndex, TypeAlias, TypeVar

import numpy as np
import numpy.typing as npt

_T_co = TypeVar("_T_co", covariant=True)

# A number the module converts to a C double: a float, or anything with
# __float__ or __index__ (int, bool, NumPy scalars, Fraction, Decimal).
_Number: TypeAlias = SupportsFloat | SupportsIndex

class _SequenceOf(Protocol[_T_co]):
    """A list, tuple, range or other sequence of numbers.

    Each member keeps out something the module rejects or cannot check:
    __contains__ taking any object keeps out str and bytes (and so bytearray),
    __getitem__ taking a slice keeps out a dict, and __reversed__ keeps out a
    NumPy array, whose elements a checker cannot see.
    """

    def __len__(self) -> int: ...
    def __iter__(self) -> Iterator[_T_co]: ...
    def __reversed__(self) -> Iterator[_T_co]: ...
    def __contains__(self, value: object, /) -> bool: ...
    def __getitem__(self, index: slice, /) -> Any: ...

class _Column(Protocol[_T_co]):
    """A pandas Series or Index or a polars Series.

    The module reads them as sequences; to_numpy() is what sets them apart from
    a NumPy array, whose elements a checker cannot see, so that an array of
    text stays an error.
    """

    def __len__(self) -> int: ...
    def __iter__(self) -> Iterator[_T_co]: ...
    def to_numpy(self) -> Any: ...

# The collections of numbers that predict() accepts: sequences, data-frame
# columns, the set types and dict views, generators and map objects, and
# numeric NumPy arrays. The checkers pass some calls that fail at run time,
# where the element type is Any or hidden from them: a polars Series or a
# pandas Series[Any] (a DataFrame column) of text, a dict typed with Any keys,
# a 2-D array. A bytearray runs, but is kept out together with bytes.
_Numbers: TypeAlias = (
    _SequenceOf[_Number]
    | _Column[_Number]
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

    # NumPy's ArrayLike leaves out lists of Decimal, Fraction and other objects
    # with __float__ or __index__, which NumPy converts all the same.
    def __init__(
        self,
        x: npt.ArrayLike | Sequence[SupportsFloat | SupportsIndex],
        y: npt.ArrayLike | Sequence[SupportsFloat | SupportsIndex],
        /,
    ) -> None:
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

    def predict_single(self, value: SupportsFloat | SupportsIndex, /) -> float:
        """The fitted line at one value: intercept + slope * value."""

    def predict(self, values: _Numbers, /) -> list[float]:
        """The fitted line at each value, in order, as a new list.

        values: a list, tuple or range of numbers, a pandas Series or Index, a
        polars Series, a set, a dict's keys or values, a generator, a map
        object or a 1-D numeric NumPy array; not str or bytes. A Series
        holding missing values raises TypeError (the constructor makes them
        NaN): pass s.to_numpy(dtype=float, na_value=np.nan) for pandas,
        s.to_numpy() for polars.
        """

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
        """Write the report, a line per statistic, to the process's standard output (file descriptor 1).

        Python's streams are flushed first, then the text bypasses sys.stdout
        and has reached the descriptor, whole, when this returns. Raises
        OSError, as os.write would, if standard output rejects the write.
        """
