"""Enters a floating-point state through the C++ helper library
(tests/cpp/caller_state.cpp), then constructs, calls every method and writes
the report for each data set, and makes a construction that raises. Typed
data sets are also converted by trendfit itself: constructed from NumPy
arrays of their type, and their x given to predict and predict_single. Writes the
report to standard output and, as the last line of standard error, JSON with
the bits of every result and the calls after which the state was not the one
entered. Exits with 77 when the processor cannot enter the state.

    caller_state.py LIBRARY STATE DATA PROBES TYPED

DATA ([x, y] pairs) and PROBES (a list) are floats as helpers.floats_to_text writes them;
TYPED is JSON of [dtype, x, y] triples, made into arrays before the state is entered.
"""

import ctypes
import json
import sys

import numpy as np

from helpers import STATISTICS, floats_from_text, raw_bits
from trendfit import LinearRegression

library, state = sys.argv[1], sys.argv[2]
data, probes = floats_from_text(sys.argv[3]), floats_from_text(sys.argv[4])
typed = [(np.array(x, dtype), np.array(y, dtype)) for dtype, x, y in json.loads(sys.argv[5])]

helper = ctypes.CDLL(library)
helper.caller_state_control.restype = ctypes.c_ulonglong
if helper.caller_state_enter(state.encode()) != 1:
    sys.exit(77)
entered = helper.caller_state_control()
changed = []  # the calls after which the state was not the one entered
results = []


def after(call, result):
    if helper.caller_state_control() != entered:
        changed.append(call)
    return result


for x, y in data + typed:
    fit = after("construction", LinearRegression(x, y))
    results += [raw_bits(after(name, getattr(fit, name)())) for name in STATISTICS]
    results += [raw_bits(after("predict_single", fit.predict_single(v))) for v in probes]
    results += [raw_bits(v) for v in after("predict", fit.predict(probes))]
    after("summary", fit.summary())
for x, _ in typed:
    results += [raw_bits(v) for v in after("predict", fit.predict(x))]
    results.append(raw_bits(after("predict_single", fit.predict_single(x[0]))))
try:
    LinearRegression([1.0, 2.0], [1.0])
except RuntimeError:
    after("a construction that raised", None)
helper.caller_state_leave()
print(json.dumps({"results": results, "changed": changed}), file=sys.stderr)
