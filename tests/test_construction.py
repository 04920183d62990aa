"""Construction: which arrays are accepted, the order their elements are
stored in, and what is rejected."""

import math

import numpy as np
import pytest

from helpers import snapshot
from trendfit import LinearRegression


def same_fit(x_array, y_array, x_list, y_list):
    """The arrays are stored as the lists are: every answer agrees bit for bit."""
    assert snapshot(LinearRegression(x_array, y_array)) == snapshot(LinearRegression(x_list, y_list))


BASE = np.array([1.0, 7.0, 2.0, 9.0, 4.0, 3.0, 8.0, 0.5])
PAIR = np.array([2.0, 1.0, 5.0, 3.0, 3.5, 7.0, 0.25, 6.0])


@pytest.mark.parametrize(
    "view, logical",
    [
        (BASE[::-1], BASE.tolist()[::-1]),
        (BASE[::2], BASE.tolist()[::2]),
        (BASE[1::3], BASE.tolist()[1::3]),
        (BASE.reshape(2, 4), BASE.tolist()),
        (BASE.reshape(4, 2).T, BASE.reshape(4, 2).T.flatten().tolist()),
        (np.asfortranarray(BASE.reshape(2, 4)), BASE.tolist()),
        (BASE.reshape(2, 2, 2)[:, ::-1, :], BASE.reshape(2, 2, 2)[:, ::-1, :].flatten().tolist()),
    ],
    ids=["reversed", "step 2", "offset step 3", "2-d", "transposed", "fortran", "3-d reversed middle"],
)
def test_views_are_read_in_row_major_order(view, logical):
    partner = PAIR[: len(logical)]
    same_fit(view, partner, logical, partner.tolist())
    same_fit(partner, view, partner.tolist(), logical)


def test_shapes_with_equal_counts_are_paired_row_by_row():
    matrix = np.array([[1.0, 2.0, 3.0], [4.0, 5.0, 6.5]])
    same_fit(matrix, PAIR[:6], [1.0, 2.0, 3.0, 4.0, 5.0, 6.5], PAIR[:6].tolist())


def test_broadcast_zero_stride_array():
    same_fit(np.broadcast_to(2.5, (3, 4)), np.arange(12.0), [2.5] * 12, list(range(12)))
    same_fit(np.arange(12.0), np.broadcast_to([1.0, -2.0, 4.0], (4, 3)), list(range(12)), [1.0, -2.0, 4.0] * 4)


def test_unaligned_array():
    raw = np.zeros(8 * 9 + 1, dtype=np.uint8)
    unaligned = raw[1:].view(np.float64)
    unaligned[:] = np.arange(9.0) ** 1.5
    assert not unaligned.flags.aligned
    same_fit(unaligned, np.arange(9.0), (np.arange(9.0) ** 1.5).tolist(), list(range(9)))
    same_fit(unaligned[::-2], np.arange(5.0), (np.arange(9.0) ** 1.5)[::-2].tolist(), list(range(5)))


def test_scalars_give_one_sample():
    fit = LinearRegression(np.float64(4.0), 2)
    assert (fit.mean_x(), fit.mean_y()) == (4.0, 2.0)
    assert math.isnan(fit.std_x())


@pytest.mark.parametrize(
    "x, y",
    [
        ([1, 2, 3], [2, 4, 7]),
        ((1, 2, 3), range(3)),
        (np.array([1, 2, 3], dtype=np.int32), np.array([2, 4, 7], dtype=np.float32)),
        (np.array([True, False, True]), [0.5, 0.25, 1.5]),
    ],
)
def test_other_numeric_inputs_are_converted_to_double(x, y):
    same_fit(x, y, np.asarray(x, dtype=float).tolist(), np.asarray(y, dtype=float).tolist())


def test_samples_are_copied():
    x, y = BASE.copy(), PAIR.copy()
    fit = LinearRegression(x, y)
    before = snapshot(LinearRegression(BASE, PAIR))
    x[:] = 0.0
    y[0] = np.nan
    assert snapshot(fit) == before


def test_read_only_and_special_values_are_accepted():
    x = np.array([1.0, np.nan, -np.inf, -0.0, 5e-324])
    x.setflags(write=False)
    fit = LinearRegression(x, [1.0, 2.0, 3.0, 4.0, 5.0])
    assert math.isnan(fit.mean_x()) and fit.mean_y() == 3.0


@pytest.mark.parametrize(
    "x, y",
    [([], [1.0]), ([1.0, 2.0, 3.0], [1.0, 2.0, 3.0, 4.0]), (np.zeros((2, 3)), np.zeros(5)), (3.0, [])],
)
def test_different_element_counts_are_rejected(x, y):
    with pytest.raises(RuntimeError, match="^x and y must have the same length$"):
        LinearRegression(x, y)


@pytest.mark.parametrize(
    "x, y",
    [
        (["a", "b"], [1.0, 2.0]),
        ([1.0, 2.0], ["a", "b"]),
        ([[1.0], [2.0, 3.0]], [1.0, 2.0]),
        ({"a": 1}, [1.0]),
    ],
)
def test_unconvertible_arguments_raise_type_error(x, y):
    with pytest.raises(TypeError, match="incompatible constructor arguments"):
        LinearRegression(x, y)


def test_second_init_is_ignored():
    fit = LinearRegression(BASE, PAIR)
    before = snapshot(LinearRegression(BASE, PAIR))
    assert fit.__init__([1.0], [1.0, 2.0]) is None
    assert fit.__init__() is None
    assert fit.__init__(1, 2, 3) is None
    assert snapshot(fit) == before
