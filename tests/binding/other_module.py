"""Imports the second pybind11 module `other` from DIRECTORY, after trendfit when asked,
and prints what the expression gives.

    other_module.py DIRECTORY alone|after-trendfit EXPRESSION
"""

import copy  # noqa: F401  (for the expression)
import pickle  # noqa: F401
import sys

sys.path.insert(0, sys.argv[1])
assert sys.argv[2] in ("alone", "after-trendfit"), sys.argv[2]
if sys.argv[2] == "after-trendfit":
    import trendfit
    trendfit.LinearRegression([1.0], [2.0])
import other  # noqa: E402, F401

print(eval(sys.argv[3]))
