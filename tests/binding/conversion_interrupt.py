"""Makes CALL, one of CALLS below, in which converting an argument raises ERROR (one of
ERRORS); checks that the caller gets that very exception and that the fit is
unchanged, and prints "propagated".

    conversion_interrupt.py ERROR CALL
"""

import sys

from helpers import snapshot
from trendfit import LinearRegression

ERRORS = {"KeyboardInterrupt": KeyboardInterrupt(), "SystemExit": SystemExit(3), "MemoryError": MemoryError("spent")}
ERROR = ERRORS[sys.argv[1]]


def fail(*args, **kwargs):
    raise ERROR


Raises = type("Raises", (), {"__float__": fail, "__array__": fail})
RaisesInIndex = type("RaisesInIndex", (), {"__index__": fail})
raises_midway = lambda: (fail() if value else value for value in (0.0, 1.0))  # noqa: E731

fit = LinearRegression([1.0, 2.0, 4.0], [1.0, 3.0, 2.0])
CALLS = {
    "__init__: NumPy calls __float__": lambda: LinearRegression([1.0, Raises()], [1.0, 2.0]),
    "__init__: __array__": lambda: LinearRegression([1.0, 2.0], Raises()),
    "predict_single: __float__": lambda: fit.predict_single(Raises()),
    "predict_single: __index__": lambda: fit.predict_single(RaisesInIndex()),
    "predict: generator": lambda: fit.predict(raises_midway()),
    "predict: __float__ of an item": lambda: fit.predict([1.0, Raises()]),
    "predict: __index__ of an item": lambda: fit.predict((1.0, RaisesInIndex())),
}
before = snapshot(fit)
try:
    CALLS[sys.argv[2]]()
except BaseException as caught:
    assert caught is ERROR, repr(caught)
assert snapshot(fit) == before
print("propagated")
