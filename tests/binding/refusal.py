"""Makes CALL, one of CALLS below, with the integers given after it, which trendfit must
refuse with a TypeError (pickling, copying) or which imports trendfit in a subinterpreter,
where the import must fail; then prints the refusal's message on one line and the
snapshot of a new fit on the next, to show the module still works.

    refusal.py CALL INTEGER...
"""

import copy
import pathlib
import pickle
import sys

import _testcapi

from helpers import snapshot

try:
    import _interpreters as interpreters
except ImportError:  # before Python 3.13
    import _xxsubinterpreters as interpreters

# Imports trendfit and writes the ImportError's message to file descriptor 1.
CODE = pathlib.Path(__file__).with_name("import_message.py").read_text()


def run_isolated(code):
    uncaught = interpreters.run_string(interpreters.create(), code)  # 3.13 returns what earlier ones raise
    assert uncaught is None, uncaught


def fit():
    from trendfit import LinearRegression
    return LinearRegression([1.0, 2.0, 4.0], [3.0, 5.0, 6.0])


CALLS = {
    "pickle.dumps": lambda protocol: pickle.dumps(fit(), protocol),
    "__reduce_ex__": lambda protocol: fit().__reduce_ex__(protocol),
    "copy.copy": lambda: copy.copy(fit()),
    "copy.deepcopy": lambda: copy.deepcopy(fit()),
    "__reduce__": lambda: fit().__reduce__(),
    "object.__reduce_ex__": lambda: object.__reduce_ex__(fit(), 1),
    "copy.copy of an instance whose __init__ never ran": lambda: copy.copy(type(fit()).__new__(type(fit()))),
    "pickle.dumps of a subclass": lambda: pickle.dumps(type("Sub", (type(fit()),), {})([1.0], [2.0]), 0),
    "import in a legacy subinterpreter": lambda: _testcapi.run_in_subinterp(CODE),
    "fit, then import in a legacy subinterpreter": lambda: (fit(), _testcapi.run_in_subinterp(CODE)),
    "import in an isolated subinterpreter": lambda: run_isolated(CODE),
    "fit, then import in an isolated subinterpreter": lambda: (fit(), run_isolated(CODE)),
}
try:
    CALLS[sys.argv[1]](*map(int, sys.argv[2:]))
except TypeError as error:
    print(error, end="")
print()
print(snapshot(fit()))
