"""Eight Python threads on shared instances: every method, new constructions and
initialisation of one blank instance all at once, with a tiny switch interval so
that the threads interleave as finely as the interpreter allows. Fails, by an
exception, when a thread's answers differ from the single-threaded ones.

    threads.py RESULTS_PATH

writes to RESULTS_PATH, as JSON, the reports of the shared data sets as written
alone, the number of reports written in all, and the numbers of threads,
rounds and data sets.
"""

import ctypes
import gc
import json
import os
import pathlib
import sys
import tempfile
import threading
import weakref

import numpy as np

from helpers import STATISTICS, bits
from trendfit import LinearRegression

THREADS = 8
ROUNDS = 150
PROBES = [-1.0, 0.0, 2.5, 1e300, float("nan")]


def data_sets():
    rng = np.random.default_rng(11)
    x = rng.normal(3.0, 2.0, 300)
    return [
        ([1.0, 2.0, 4.0, 5.0], [2.0, 3.0, 7.0, 8.5]),
        ([], []),
        ([2.0], [3.0]),
        ([0.1, float("nan"), 3.0], [1.0, 2.0, 3.0]),
        (x.tolist(), (0.5 * x + rng.standard_cauchy(300)).tolist()),
    ]


class SlowFloat:
    """Runs some Python code inside a conversion, where another thread can take over."""

    def __init__(self, value):
        self.value = value

    def __float__(self):
        sum(range(50))
        return self.value


def slow_generator(values):
    for value in values:
        sum(range(20))
        yield value


def answers(fit):
    """What every method gives: the statistics, predictions through each kind of
    argument, a further __init__ (ignored) and the report (written, not returned)."""
    result = {name: bits(getattr(fit, name)()) for name in STATISTICS}
    result["predict_single"] = [bits(fit.predict_single(SlowFloat(p))) for p in PROBES]
    result["predict"] = [[bits(v) for v in fit.predict(values)] for values in (
        PROBES, tuple(PROBES), np.array(PROBES), slow_generator(PROBES), [SlowFloat(p) for p in PROBES])]
    assert fit.__init__([9.0], [9.0, 9.0]) is None
    assert fit.summary() is None
    return result


def construct_slowly(x, y):
    """A new fit whose x array holds objects, so that converting it runs Python code."""
    return LinearRegression(np.array([SlowFloat(v) for v in x], dtype=object), y)


def captured_report(fit):
    """The report text, captured from file descriptor 1 alone."""
    libc = ctypes.CDLL(None)
    libc.fflush(None)
    saved = os.dup(1)
    with tempfile.TemporaryFile() as capture:
        os.dup2(capture.fileno(), 1)
        fit.summary()
        libc.fflush(None)
        os.dup2(saved, 1)
        os.close(saved)
        capture.seek(0)
        return capture.read().decode()


def hammer(shared, expected, reports_written, errors, start):
    """One thread's share: every method on every shared instance, and new instances."""
    start.wait()
    written = 0
    try:
        for _ in range(ROUNDS):
            for index, (fit, (x, y)) in enumerate(zip(shared, data_sets())):
                for candidate in (fit, construct_slowly(x, y)):
                    got = answers(candidate)
                    written += 1
                    if got != expected[index]:
                        errors.append(f"data set {index}: {got} != {expected[index]}")
    except Exception as error:  # reported by the main thread
        errors.append(repr(error))
    reports_written.append(written)


def race_to_initialise():
    """Every thread initialises the same blank instance; each has passed the
    'already initialised?' check before any of them has converted its arguments."""
    blank = LinearRegression.__new__(LinearRegression)
    everyone_converting = threading.Barrier(THREADS, timeout=60)

    class WaitsForAll:
        def __init__(self, value):
            self.value = value

        def __float__(self):
            everyone_converting.wait()
            return self.value

    candidates = [([float(t), t + 1.5, 2.0 * t + 3.0], [1.0, 0.5, float(t)]) for t in range(THREADS)]
    errors = []

    def initialise(x, y):
        try:
            assert blank.__init__(np.array([WaitsForAll(x[0])] + x[1:], dtype=object), y) is None
        except Exception as error:
            errors.append(repr(error))

    threads = [threading.Thread(target=initialise, args=candidate) for candidate in candidates]
    for thread in threads:
        thread.start()
    for thread in threads:
        thread.join()
    assert not errors, errors
    final = [bits(getattr(blank, name)()) for name in STATISTICS]
    assert final in [[bits(getattr(LinearRegression(*c), name)()) for name in STATISTICS] for c in candidates]
    gone = weakref.ref(blank)
    blank = None  # the last reference: the instance must now be freed
    gc.collect()
    assert gone() is None


def run(results_path):
    sys.setswitchinterval(1e-6)
    shared = [LinearRegression(x, y) for x, y in data_sets()]
    expected = [answers(fit) for fit in shared]
    reports = sorted({captured_report(fit) for fit in shared})
    errors, reports_written = [], []
    start = threading.Barrier(THREADS)
    threads = [threading.Thread(target=hammer, args=(shared, expected, reports_written, errors, start))
               for _ in range(THREADS)]
    for thread in threads:
        thread.start()
    for thread in threads:
        thread.join()
    assert not errors, errors[:3]
    race_to_initialise()
    pathlib.Path(results_path).write_text(json.dumps({
        "reports": reports, "written": sum(reports_written) + len(shared),
        "threads": THREADS, "rounds": ROUNDS, "data sets": len(shared)}))


if __name__ == "__main__":
    run(sys.argv[1])
