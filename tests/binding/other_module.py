"""Imports the second pybind11 module `other` from DIRECTORY, after trendfit when asked,
and prints what CALL (one of CALLS below), given the integers after it, returns.

    other_module.py DIRECTORY alone|after-trendfit CALL INTEGER...
"""

import copy
import pickle
import sys

sys.path.insert(0, sys.argv[1])
assert sys.argv[2] in ("alone", "after-trendfit"), sys.argv[2]
if sys.argv[2] == "after-trendfit":
    import trendfit
    trendfit.LinearRegression([1.0], [2.0])
import other  # noqa: E402

CALLS = {
    "construction": lambda: other.Thing(7).value,
    "pickling at protocol": lambda protocol: pickle.loads(pickle.dumps(other.Thing(7), protocol)).value,
    "copy": lambda: copy.copy(other.Thing(7)).value,
}
print(CALLS[sys.argv[3]](*map(int, sys.argv[4:])))
