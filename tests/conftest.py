import pytest

from trendfit import LinearRegression


@pytest.fixture
def fit():
    """A small fit with nothing degenerate about it."""
    return LinearRegression([1.0, 2.0, 3.0, 4.0, 5.0], [2.0, 4.0, 5.0, 4.0, 5.0])
