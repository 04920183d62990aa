"""What is timed at one n: trendfit's calls, the peers a user would call
instead, and the references. Cases in one group are timed back to back, so
a comparison inside a group (construction against a NumPy copy, a chain of
trendfit calls against its peer) sees the same machine state."""

import contextlib
import re
from dataclasses import dataclass, field
from typing import Callable, ContextManager, Optional

import numpy as np
import trendfit

from silence import c_stdout_to_devnull


def statistics_of(cls) -> tuple:
    """The methods that take nothing and return a float, in the order the class
    lists them, which is the order of the report's lines. Read from the
    signatures pybind11 writes into the docstrings (the test suite pins both
    the order and these signatures)."""
    names = tuple(name for name, member in vars(cls).items()
                  if re.fullmatch(rf"{name}\(self: [\w.]+\) -> float\s*", getattr(member, "__doc__", "") or ""))
    if not names:
        raise RuntimeError(f"no statistics found among the methods of {cls.__qualname__}")
    return names


# mean_x ... t_value_slope, as the tests name them.
STATISTICS = statistics_of(trendfit.LinearRegression)
PREDICT_SINGLE_NAME = "predict_single"
PREDICT_AT = 0.5
PREDICT_COUNT = 100_000
# predict on n values against NumPy's tolist() of the same values, which builds
# the same kind of list: the floor for predict's result. Model of 1,000 samples.
PREDICT_SIZES = (100_000, 1_000_000)
PREDICT_MODEL_SAMPLES = 1_000
# A model of a few samples, where a fixed cost per call (converting the
# arguments, entering the model) is most of the time: construction, one
# statistic and predict_single only.
SMALL_N = 10
SMALL_STATISTIC = "slope"

UNIT_NAME = "one pass: numpy.add.accumulate(x)"
FLOOR_NAME = "floor: strict running sum in C"
COPY_NAME = "numpy: copy x and y"
CONSTRUCTION_NAME = "LinearRegression(x, y)"
CHAIN4_NAME = "slope+intercept+pearson+slope_se"
CHAIN2_NAME = "slope+intercept"
SUMMARY_NAME = "summary (to /dev/null)"
PREDICT_NAME = "predict(list of 1e5)"
PREDICT_ARRAY_NAME = "predict(float64 array)"
PREDICT_STRIDED_NAME = "predict(strided float64 array)"
PREDICT_FLOATS_NAME = "predict(list of floats)"
TOLIST_NAMES = {PREDICT_ARRAY_NAME: "tolist() of that array", PREDICT_STRIDED_NAME: "tolist() of that strided array",
                PREDICT_FLOATS_NAME: "tolist() of the same values"}
LINREGRESS_NAME = "scipy.stats.linregress"
POLYFIT_NAME = "numpy.polyfit(x, y, 1)"
OLS_NAME = "statsmodels OLS + const (.bse)"
SKLEARN_NAME = "sklearn LinearRegression"


@dataclass(frozen=True)
class Case:
    name: str
    kind: str  # "trendfit", "peer" or "reference"
    call: Callable[[], object]
    # Entered around (not inside) the timed call.
    around: Callable[[], ContextManager] = contextlib.nullcontext
    # For a peer or the NumPy copy: the trendfit case in its group that is
    # compared with it, as trendfit time / this time.
    compared_with: Optional[str] = None
    notes: dict = field(default_factory=dict)


def make_data(n: int, seed: int):
    """Random float64 samples of a noisy line."""
    rng = np.random.default_rng([seed, n])
    x = rng.random(n)
    y = 3.0 + 2.0 * x + rng.standard_normal(n)
    return x, y


def make_unit(x) -> Callable[[], object]:
    return lambda: np.add.accumulate(x)


def chain_of_four(fit) -> Callable[[], object]:
    def call():
        return fit.slope(), fit.intercept(), fit.pearson_correlation(), fit.slope_standard_error()
    return call


def chain_of_two(fit) -> Callable[[], object]:
    return lambda: (fit.slope(), fit.intercept())


def peer_calls(x, y) -> dict:
    """The calls a user would make instead, as they would make them."""
    from scipy import stats
    import statsmodels.api as sm
    from sklearn.linear_model import LinearRegression as SklearnLinearRegression

    column = x.reshape(-1, 1)
    return {
        LINREGRESS_NAME: lambda: stats.linregress(x, y),
        POLYFIT_NAME: lambda: np.polyfit(x, y, 1),
        # .bse: the standard errors, which linregress and the chain also give
        OLS_NAME: lambda: sm.OLS(y, sm.add_constant(x)).fit().bse,
        SKLEARN_NAME: lambda: SklearnLinearRegression().fit(column, y),
    }


def predict_groups(LinearRegression, x, y) -> list[list[Case]]:
    """predict and tolist() of the same values, timed back to back."""
    fit = LinearRegression(x[:PREDICT_MODEL_SAMPLES], y[:PREDICT_MODEL_SAMPLES])
    strided = np.repeat(x, 2)[::2]
    floats = x.tolist()
    inputs = {PREDICT_ARRAY_NAME: (x, x), PREDICT_STRIDED_NAME: (strided, strided), PREDICT_FLOATS_NAME: (floats, x)}
    return [[Case(name, "trendfit", lambda values=values: fit.predict(values)),
             Case(TOLIST_NAMES[name], "reference", same.tolist, compared_with=name)]
            for name, (values, same) in inputs.items()]


def small_groups(LinearRegression, x, y) -> list[list[Case]]:
    fit = LinearRegression(x, y)
    return [[Case(CONSTRUCTION_NAME, "trendfit", lambda: LinearRegression(x, y))],
            [Case(SMALL_STATISTIC, "trendfit", getattr(fit, SMALL_STATISTIC))],
            [Case(PREDICT_SINGLE_NAME, "trendfit", lambda: fit.predict_single(PREDICT_AT))]]


def case_groups(LinearRegression, x, y, floor) -> list[list[Case]]:
    if len(x) == SMALL_N:
        return small_groups(LinearRegression, x, y)
    fit = LinearRegression(x, y)
    peers = peer_calls(x, y)
    values = np.random.default_rng(0).random(PREDICT_COUNT).tolist()

    groups = [
        [Case(CONSTRUCTION_NAME, "trendfit", lambda: LinearRegression(x, y)),
         Case(COPY_NAME, "reference", lambda: (x.copy(), y.copy()), compared_with=CONSTRUCTION_NAME)],
        [Case(CHAIN4_NAME, "trendfit", chain_of_four(fit)),
         Case(LINREGRESS_NAME, "peer", peers[LINREGRESS_NAME], compared_with=CHAIN4_NAME),
         Case(OLS_NAME, "peer", peers[OLS_NAME], compared_with=CHAIN4_NAME)],
        [Case(CHAIN2_NAME, "trendfit", chain_of_two(fit)),
         Case(POLYFIT_NAME, "peer", peers[POLYFIT_NAME], compared_with=CHAIN2_NAME),
         Case(SKLEARN_NAME, "peer", peers[SKLEARN_NAME], compared_with=CHAIN2_NAME)],
        [Case(PREDICT_NAME, "trendfit", lambda: fit.predict(values))],
        # The report is on file descriptor 1 when summary returns: its write is timed.
        [Case(SUMMARY_NAME, "trendfit", fit.summary, around=c_stdout_to_devnull)],
    ]
    groups += [[Case(name, "trendfit", getattr(fit, name))] for name in STATISTICS]
    groups.append([Case(PREDICT_SINGLE_NAME, "trendfit", lambda: fit.predict_single(PREDICT_AT))])
    if len(x) in PREDICT_SIZES:
        groups += predict_groups(LinearRegression, x, y)
    if floor.available:
        groups.append([Case(FLOOR_NAME, "reference", floor.call_for(x))])
    return groups


# The order of rows in the printed table.
ROW_ORDER = (
    [FLOOR_NAME, CONSTRUCTION_NAME, COPY_NAME]
    + list(STATISTICS)
    + [PREDICT_SINGLE_NAME, PREDICT_NAME]
    + [name for predict in TOLIST_NAMES.items() for name in predict]
    + [SUMMARY_NAME, CHAIN2_NAME, CHAIN4_NAME,
       LINREGRESS_NAME, POLYFIT_NAME, OLS_NAME, SKLEARN_NAME]
)
