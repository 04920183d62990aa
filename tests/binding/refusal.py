"""Runs a statement that trendfit must refuse with a TypeError (pickling, copying) or
whose import in a subinterpreter must fail, then prints the refusal's message on
one line and the snapshot of a new fit on the next, to show the module still works.

    refusal.py STATEMENT

The statement can use fit() (a new instance), CODE (source that imports trendfit
and writes the ImportError's message to file descriptor 1), run_isolated(code)
(in an isolated subinterpreter), copy, pickle and _testcapi.
"""

import copy  # noqa: F401  (for the statement)
import pickle  # noqa: F401
import sys

import _testcapi  # noqa: F401

from helpers import snapshot

try:
    import _interpreters as interpreters
except ImportError:  # before Python 3.13
    import _xxsubinterpreters as interpreters

CODE = "import os\ntry:\n import trendfit\nexcept ImportError as e:\n os.write(1, str(e).encode())"


def run_isolated(code):
    uncaught = interpreters.run_string(interpreters.create(), code)  # 3.13 returns what earlier ones raise
    assert uncaught is None, uncaught


def fit():
    from trendfit import LinearRegression
    return LinearRegression([1.0, 2.0, 4.0], [3.0, 5.0, 6.0])


try:
    exec(compile(sys.argv[1], "STATEMENT", "exec"))
except TypeError as error:
    print(error, end="")
print()
print(snapshot(fit()))
