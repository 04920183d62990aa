"""Construction: which arrays are accepted, the order their elements are
stored in, and what is rejected."""

import numpy as np
import pytest

from helpers import FAILING_ITERABLES, Boom, run_script, snapshot, succeeded
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


READ_ONLY_SPECIAL_VALUES = np.array([1.0, np.nan, -np.inf, -0.0, 5e-324])
READ_ONLY_SPECIAL_VALUES.setflags(write=False)


@pytest.mark.parametrize(
    "x, y",
    [
        ([1, 2, 3], [2, 4, 7]),
        ((1, 2, 3), range(3)),
        (np.array([1, 2, 3], dtype=np.int32), np.array([2, 4, 7], dtype=np.float32)),
        (np.array([True, False, True]), [0.5, 0.25, 1.5]),
        (np.float64(4.0), 2),  # scalars: one sample each
        (READ_ONLY_SPECIAL_VALUES, [1.0, 2.0, 3.0, 4.0, 5.0]),
    ],
)
def test_other_inputs_are_converted_to_double(x, y):
    same_fit(x, y, np.asarray(x, dtype=float).ravel().tolist(), np.asarray(y, dtype=float).ravel().tolist())


def test_samples_are_copied():
    x, y = BASE.copy(), PAIR.copy()
    fit = LinearRegression(x, y)
    before = snapshot(LinearRegression(BASE, PAIR))
    x[:] = 0.0
    y[0] = np.nan
    assert snapshot(fit) == before


@pytest.mark.parametrize(
    "x, y",
    [([], [1.0]), ([1.0, 2.0, 3.0], [1.0, 2.0, 3.0, 4.0]), (np.zeros((2, 3)), np.zeros(5)), (3.0, []),
     (np.broadcast_to(0.0, (2**40,)), [1.0, 2.0])],  # 8 TiB logical against two: refused before allocating
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


@pytest.mark.parametrize("make", FAILING_ITERABLES.values(), ids=FAILING_ITERABLES.keys())
@pytest.mark.parametrize("position", ["x", "y"])
def test_construction_from_failing_iteration_raises_and_builds_nothing(make, position):
    blank = LinearRegression.__new__(LinearRegression)
    args = (make(), [1.0, 2.0, 3.0]) if position == "x" else ([1.0, 2.0, 3.0], make())
    with pytest.raises((Boom, TypeError)):
        blank.__init__(*args)
    with pytest.raises(TypeError, match="never initialised"):
        blank.mean_x()


SECOND_INIT_ARGUMENTS = {
    "other lengths": lambda: ([1.0], [1.0, 2.0]),
    "none": lambda: (),
    "three": lambda: (1, 2, 3),
    **{f"failing {name}": lambda make=make: (make(), make()) for name, make in FAILING_ITERABLES.items()},
}


@pytest.mark.parametrize("arguments", SECOND_INIT_ARGUMENTS.values(), ids=SECOND_INIT_ARGUMENTS.keys())
def test_a_second_init_is_ignored(arguments):
    fit = LinearRegression(BASE, PAIR)
    assert fit.__init__(*arguments()) is None
    assert snapshot(fit) == snapshot(LinearRegression(BASE, PAIR))


@pytest.mark.parametrize("route", ["blank instance", "subclass"])
def test_init_reentered_during_conversion_keeps_the_first_model(route):
    # Converting an object array calls each element's __float__, which can run
    # anything, including __init__ of the very instance being initialised.
    result = run_script("construction/reenter_init", route)
    assert succeeded(result).decode().splitlines() == ["destroyed"]
