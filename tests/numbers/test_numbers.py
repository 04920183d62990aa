"""Every statistic, bit for bit: worked examples and a differential check against
a plain-Python statement of the algorithms."""

import json
import math
import struct

import numpy as np
import pytest
from hypothesis import given, settings
from hypothesis import strategies as st

import reference
from helpers import (NEGATIVE_NAN, POSITIVE_NAN, STATISTICS, bits, floats_to_text, nan_data, output_of,
                     raw_bits, run_script)
from trendfit import LinearRegression

inf, nan = math.inf, math.nan


@pytest.mark.parametrize("x, y, expected", reference.WORKED, ids=[f"{x}-{y}" for x, y, _ in reference.WORKED])
def test_worked_examples(x, y, expected):
    fit = LinearRegression(np.array(x, dtype=float), np.array(y, dtype=float))
    got = {name: bits(getattr(fit, name)()) for name in expected}
    assert got == {name: bits(value) for name, value in expected.items()}


@pytest.mark.parametrize(
    "x, y, values, expected",
    [
        ([1.0, 2.0, 3.0, 4.0, 5.0], [2.0, 4.0, 5.0, 4.0, 5.0], [3.0, 1.0, 6.0], [4.0, 2.8000000000000003, 5.8]),
        ([1.0, 2.0, 3.0, 4.0, 5.0], [2.0, 4.0, 5.0, 4.0, 5.0], [nan, inf, -inf], [nan, inf, -inf]),
        ([0.0, 1.0], [1.0, 3.0], [0.0, 1.0, 2.5], [1.0, 3.0, 6.0]),
        ([1e100, 2e100, 3e100], [1e100, 2e100, 3e100], [-7.0, 0.0, 1e300], [2e100, 2e100, 2e100]),
        ([1e-100, 2e-100, 3e-100], [1e-100, 2e-100, 3e-100], [0.0, 1.0, -5.0], [nan, nan, -inf]),
        ([], [], [1.0, 2.0], [nan, nan]),
        ([], [], [], []),
    ],
)
def test_predictions(x, y, values, expected):
    fit = LinearRegression(x, y)
    assert [bits(v) for v in fit.predict(values)] == [bits(v) for v in expected]
    assert [bits(fit.predict_single(v)) for v in values] == [bits(v) for v in expected]


def assert_matches_reference(x, y):
    fit = LinearRegression(np.array(x, dtype=float), np.array(y, dtype=float))
    got = {name: bits(getattr(fit, name)()) for name in STATISTICS}
    want = {name: bits(reference.BY_NAME[name](x, y)) for name in STATISTICS}
    assert got == want
    probes = x[:5] + [0.0, -1.5, 1e300]
    assert [bits(v) for v in fit.predict(probes)] == [bits(v) for v in reference.predict(x, y, probes)]


finite = st.floats(allow_nan=False, allow_infinity=False, width=64)
special = st.sampled_from([0.0, -0.0, nan, inf, -inf, 5e-324, 1.7976931348623157e308])
values = st.one_of(
    finite,
    st.floats(min_value=-1e6, max_value=1e6),
    st.floats(min_value=1e9, max_value=1e9 + 1000),  # large offset, small spread
    st.floats(min_value=-1e-300, max_value=1e-300),
    special,
)


@st.composite
def data_sets(draw):
    n = draw(st.integers(min_value=0, max_value=40))
    pool = draw(st.lists(values, min_size=1, max_size=6))  # few distinct values: duplicates
    pick = st.one_of(values, st.sampled_from(pool))
    x = draw(st.lists(pick, min_size=n, max_size=n))
    y = draw(st.lists(pick, min_size=n, max_size=n))
    shape = draw(st.sampled_from(["as drawn", "constant x", "constant y", "linear"]))
    if shape == "constant x" and n:
        x = [x[0]] * n
    elif shape == "constant y" and n:
        y = [y[0]] * n
    elif shape == "linear":
        y = [2.5 * v - 3.0 for v in x]
    return x, y


@settings(max_examples=600, deadline=None)
@given(data_sets())
def test_matches_reference_on_drawn_data(data):
    assert_matches_reference(*data)


@pytest.mark.parametrize("seed", range(12))
def test_matches_reference_on_random_data(seed):
    rng = np.random.default_rng(seed)
    n = int(rng.integers(2, 3000))
    offset = [0.0, 1e9, -1e15, 1e-9][seed % 4]
    scale = 10.0 ** rng.integers(-8, 9, n)  # mixed magnitudes
    x = offset + rng.normal(0.0, 1.0, n) * scale
    y = 3.0 * x - 7.0 + rng.standard_cauchy(n)
    assert_matches_reference(x.tolist(), y.tolist())


def from_bits(bits):
    return struct.unpack("<d", struct.pack("<Q", bits))[0]


# A NaN made from numbers (0/0, inf - inf) is x86-64's default NaN on every
# processor; a NaN operand keeps its sign and payload and is quieted.
MADE_NAN = from_bits(0xFFF8000000000000)
SIGNALLING, SIGNALLING_QUIETED = from_bits(0x7FF0000000000123), from_bits(0x7FF8000000000123)
NEGATIVE_PAYLOAD = from_bits(0xFFF800000000ABCD)


@pytest.mark.parametrize(
    "x, first",
    [([1.0, NEGATIVE_NAN, POSITIVE_NAN], NEGATIVE_NAN), ([1.0, POSITIVE_NAN, NEGATIVE_NAN], POSITIVE_NAN),
     ([NEGATIVE_NAN, inf, POSITIVE_NAN], NEGATIVE_NAN), ([1.0, SIGNALLING, NEGATIVE_PAYLOAD], SIGNALLING_QUIETED),
     ([inf, -inf, NEGATIVE_PAYLOAD], MADE_NAN)],
)
def test_a_sum_carries_its_first_nan(x, first):
    # Operand order decides which of two NaNs an addition returns: the running
    # sum keeps the first NaN it met, whatever order the compiler preferred.
    assert raw_bits(LinearRegression(x, [1.0, 2.0, 3.0]).mean_x()) == raw_bits(first)


NAN_DATA = nan_data()
PROBES = [0.0, -1.5, POSITIVE_NAN, NEGATIVE_NAN, inf, -inf]


@pytest.mark.parametrize("x, y", NAN_DATA)
def test_results_are_the_same_bits_however_reached_and_however_often(x, y):
    fit = LinearRegression(x, y)
    probes = PROBES + x
    assert [raw_bits(v) for v in fit.predict(probes)] == [raw_bits(fit.predict_single(v)) for v in probes]
    for name, composed in reference.FROM_OTHER_METHODS.items():
        assert raw_bits(getattr(fit, name)()) == raw_bits(composed(fit)), name
    first = [raw_bits(getattr(fit, name)()) for name in STATISTICS]
    again = LinearRegression(np.array(x), np.array(y))
    assert [raw_bits(getattr(again, name)()) for name in STATISTICS] == first
    assert [raw_bits(getattr(fit, name)()) for name in STATISTICS] == first, "a second call differs"


@pytest.mark.parametrize(
    "x, y, nans",
    [([], [], {MADE_NAN}), ([2.0, 2.0, 2.0], [1.0, 2.0, 4.0], {MADE_NAN}),
     ([inf, 2.0, 3.0], [1.0, 2.0, 3.0], {MADE_NAN}),
     ([1.0, SIGNALLING, 3.0], [1.0, 2.0, 3.0], {SIGNALLING_QUIETED}),
     ([1.0, 2.0, NEGATIVE_PAYLOAD], [SIGNALLING, 2.0, 3.0], {NEGATIVE_PAYLOAD, SIGNALLING_QUIETED})],
)
def test_a_nan_result_is_its_first_nan_operand_or_the_default_nan(x, y, nans):
    fit = LinearRegression(x, y)
    results = [getattr(fit, name)() for name in STATISTICS if name != "mae"] + fit.predict([0.0, inf])
    assert {raw_bits(v) for v in results + [fit.predict_single(-inf)] if math.isnan(v)} == {raw_bits(v) for v in nans}
    # The mean absolute error sums absolute values, and |NaN| clears the sign bit like any other.
    assert raw_bits(fit.mae()) in {raw_bits(v) for v in nans} | {raw_bits(math.fabs(v)) for v in nans}


# The floating-point state a caller can leave the thread in changes nothing:
# every result, prediction and report line has the bits of the default state,
# and the caller's state is as it was after every call, one that raised and
# summary() included. A small C++ helper (tests/cpp/caller_state.cpp) enters
# the state; each state runs in a child (caller_state.py), so that a trap
# ends only the child.
CALLER_STATES = ["ftz-daz", "upward", "downward", "toward-zero", "traps"]
STATE_DATA = [
    ([5e-324, 1e-310, 2.5e-309, 7e-320, 3e-315], [1.0, 2.0, 3.5, 0.5, 2.0]),  # subnormal x
    ([1e-160, 2e-160, 3.5e-160, 4e-160], [3e-160, 1e-160, 4e-160, 1.5e-160]),  # products underflow
    ([1.0, 2.0, 3.0, 4.0, 5.0], [2.1, 3.9, 5.2, 4.3, 4.9]),
    ([2.0, 2.0, 2.0, 2.0], [1.0, 2.0, 4.0, 8.0]),  # constant x: 0/0
    ([1e9 + 0.37 * i for i in range(20)], [3.0 * i - 2.0 + (-1.0) ** i / 3.0 for i in range(20)]),  # large offset
]
STATE_PROBES = [0.0, -1.5, 1e-310, 1e9 + 0.5, 1e300, inf, nan]
# Converted by trendfit (NumPy's casts, a number's __float__) in the caller's thread.
STATE_TYPED_DATA = [
    ("int64", [2**53 + 1, 2**53 + 3, 2**53 + 6, 5], [1, 2, 3, 5]),  # rounding decides each double
    ("float32", [1e-40, 2.75e-40, 4.5e-40, 3e-40], [1.0, 2.0, 3.5, 0.5]),  # subnormal floats
]


def run_in_state(cmake_build, state):
    """The child's report text and its {"results", "changed"}, or None if the processor lacks the state."""
    library = cmake_build("tests", "caller_state") / "libcaller_state.so"
    with pytest.MonkeyPatch.context() as environment:
        environment.delenv("PYTHONUNBUFFERED", raising=False)  # the report as users get it
        done = run_script("numbers/caller_state", library, state, floats_to_text(STATE_DATA),
                          floats_to_text(STATE_PROBES), json.dumps(STATE_TYPED_DATA))
    if done.returncode == 77:
        return None
    assert done.returncode == 0, output_of(done)
    return done.stdout, json.loads(done.stderr.decode().splitlines()[-1])


@pytest.fixture(scope="module")
def default_state_run(cmake_build):
    return run_in_state(cmake_build, "default")


@pytest.mark.parametrize("state", CALLER_STATES)
def test_same_bits_and_state_unchanged_whatever_state_the_caller_left(state, cmake_build, default_state_run):
    run = run_in_state(cmake_build, state)
    if run is None:
        pytest.skip(f"this processor cannot enter {state}")
    report, outcome = run
    assert outcome["changed"] == []
    assert outcome["results"] == default_state_run[1]["results"]
    assert report == default_state_run[0] and report.count(b"Mean(X): ") == len(STATE_DATA) + len(STATE_TYPED_DATA)
