"""What is timed at one n, in the order of the printed table: trendfit's calls,
the peers a user would call instead, and the references; and the floor every
one of them is paired with. A case compared with another (a NumPy copy with
construction, a peer with a chain of trendfit calls, tolist() with predict) is
timed back to back with it, so both see the same machine state."""

import contextlib
import ctypes
import functools
import os
import shlex
import subprocess
import sys
import sysconfig
from collections.abc import Callable
from dataclasses import dataclass
from pathlib import Path

import numpy as np
from trendfit import LinearRegression

# The statistics, in the order the class defines them, which is the report's.
STATISTICS = tuple(name for name in vars(LinearRegression)
                   if not name.startswith("_") and name not in ("predict", "predict_single", "summary"))
# The passes over the data each call makes: a mean one; a standard deviation
# two over one array; r, the slope, the intercept and a prediction two over
# both; every measure of the fit after them three over both.
PASSES = {"one pass": [name for name in STATISTICS if name.startswith("mean_")],
          "two passes, one array": [name for name in STATISTICS if name.startswith("std_")],
          "two passes, both arrays": ["pearson_correlation", "slope", "intercept", "predict_single"]}
PASSES["three passes, both arrays"] = [name for name in STATISTICS
                                       if all(name not in names for names in PASSES.values())]

SMALL_N = 10  # a model so small that the cost of a call before any pass shows
PREDICT_ONLY_N = 10_000  # predict alone, its lists of floats within a core's L2 cache
PREDICT_SIZES = (PREDICT_ONLY_N, 100_000, 1_000_000)  # where predict is timed against tolist()
PREDICT_AT = 0.5
FLOOR = "floor: running sum of x in C"
CONSTRUCTION = "LinearRegression(x, y)"
COPY = "numpy: copy x and y"
SUMMARY = "summary (to /dev/null)"
CHAIN2 = "slope+intercept"
CHAIN4 = "slope+intercept+pearson+slope_se"
LINREGRESS = "scipy.stats.linregress"
# predict on some values: tolist() of the same values builds the same list of floats.
PREDICT_PAIRS = {"predict(float64 array)": "tolist() of that array",
                 "predict(strided float64 array)": "tolist() of that strided array",
                 "predict(list of floats)": "tolist() of the same values"}


@dataclass(frozen=True)
class Case:
    name: str
    kind: str  # "trendfit", "peer" or "reference"
    call: Callable[[], object]
    compared_with: str | None = None  # the trendfit case timed with it, compared as that / this
    around: Callable[[], contextlib.AbstractContextManager] = contextlib.nullcontext  # entered around the timing


def make_data(n: int, seed: int):
    """Random float64 samples of a noisy line."""
    rng = np.random.default_rng([seed, n])
    x = rng.random(n)
    return x, 3.0 + 2.0 * x + rng.standard_normal(n)


@contextlib.contextmanager
def c_stdout_to_devnull():
    """summary() writes to file descriptor 1 itself, so the descriptor goes to
    /dev/null; Python's and C's pending output is flushed to where it belongs first."""
    sys.stdout.flush()
    ctypes.CDLL(None).fflush(None)
    saved, devnull = os.dup(1), os.open(os.devnull, os.O_WRONLY)
    try:
        os.dup2(devnull, 1)
        yield
    finally:
        os.dup2(saved, 1)
        os.close(saved)
        os.close(devnull)


def build_floor(directory):
    """The floor: chain_sum.c, a plain running sum in C, compiled into directory
    with exact IEEE flags, as trendfit is. A function of x giving a call that
    sums x; None without a working C compiler (then there is no floor)."""
    library = Path(directory) / "chain_sum.so"
    compiler = shlex.split(os.environ.get("CC") or sysconfig.get_config_var("CC") or "cc")[:1]
    command = compiler + ["-O2", "-ffp-contract=off", "-fno-fast-math", "-shared", "-fPIC",
                          "-o", str(library), str(Path(__file__).with_name("chain_sum.c"))]
    try:
        subprocess.run(command, check=True, capture_output=True, timeout=120)
    except (OSError, subprocess.SubprocessError):
        return None
    chain_sum = ctypes.CDLL(str(library)).chain_sum
    chain_sum.argtypes, chain_sum.restype = [ctypes.c_void_p, ctypes.c_size_t], ctypes.c_double

    def call_for(x):
        address, count = ctypes.c_void_p(x.ctypes.data), x.size
        return lambda: chain_sum(address, count)
    return call_for


def fit_calls(fit) -> dict:
    """Each statistic and predict_single as a call without arguments."""
    return {**{name: getattr(fit, name) for name in STATISTICS},
            "predict_single": lambda: fit.predict_single(PREDICT_AT)}


def after_itself(call):
    """An `around` that runs call once, untimed, right before its timing: the
    call then starts with its input in cache, whatever ran before it."""
    @contextlib.contextmanager
    def around():
        call()
        yield
    return around


def predict_cases(x, y) -> list[Case]:
    """predict with a model of 1,000 samples, each timed with its tolist().
    The floor timed before every call reads x, which is tolist()'s input but
    not a list's, so each of these is timed right after a call of itself
    instead: both start with their input in cache."""
    fit = LinearRegression(x[:1_000], y[:1_000])
    strided = np.repeat(x, 2)[::2]
    listed = []
    for (name, tolist), values, same in zip(PREDICT_PAIRS.items(), [x, strided, x.tolist()], [x, strided, x]):
        predict = functools.partial(fit.predict, values)
        listed += [Case(name, "trendfit", predict, around=after_itself(predict)),
                   Case(tolist, "reference", same.tolist, name, after_itself(same.tolist))]
    return listed


def cases(x, y) -> list[Case]:
    """Everything timed at n = len(x)."""
    fit = LinearRegression(x, y)
    construction = [Case(CONSTRUCTION, "trendfit", lambda: LinearRegression(x, y)),
                    Case(COPY, "reference", lambda: (x.copy(), y.copy()), CONSTRUCTION)]
    calls = [Case(name, "trendfit", call) for name, call in fit_calls(fit).items()]
    if len(x) == SMALL_N:
        return construction + [case for case in calls if case.name in ("slope", "predict_single")]
    if len(x) == PREDICT_ONLY_N:
        return predict_cases(x, y)
    import statsmodels.api as sm
    from scipy import stats
    from sklearn.linear_model import LinearRegression as SklearnLinearRegression

    listed = construction + calls
    listed += predict_cases(x, y) if len(x) in PREDICT_SIZES else []
    return listed + [
        # The report is on file descriptor 1 when summary returns: its write is timed.
        Case(SUMMARY, "trendfit", fit.summary, around=c_stdout_to_devnull),
        Case(CHAIN2, "trendfit", lambda: (fit.slope(), fit.intercept())),
        # What linregress returns; slope and intercept are what polyfit and scikit-learn give.
        Case(CHAIN4, "trendfit",
             lambda: (fit.slope(), fit.intercept(), fit.pearson_correlation(), fit.slope_standard_error())),
        Case(LINREGRESS, "peer", lambda: stats.linregress(x, y), CHAIN4),
        Case("numpy.polyfit(x, y, 1)", "peer", lambda: np.polyfit(x, y, 1), CHAIN2),
        # .bse: the standard errors, which linregress and the chain also give
        Case("statsmodels OLS + const (.bse)", "peer", lambda: sm.OLS(y, sm.add_constant(x)).fit().bse, CHAIN4),
        Case("sklearn LinearRegression", "peer", lambda: SklearnLinearRegression().fit(x.reshape(-1, 1), y), CHAIN2),
    ]
