"""Makes CALL, one of CALLS below, with the integers given after it, which must fail with
MemoryError or ValueError; prints the error's type and message (or "no error"),
checks that a fit made before and one made after answer as before, and prints
"carried on".

    huge_input.py CALL INTEGER...
"""

import sys

import numpy as np

from helpers import ClaimsLength, snapshot
from trendfit import LinearRegression


fit = LinearRegression([1.0, 2.0, 4.0, 5.0], [2.0, 3.0, 7.0, 8.5])
CALLS = {
    "construction": lambda *shape: LinearRegression(*[np.broadcast_to(0.0, shape)] * 2),  # one array as x and y
    "predict of a broadcast array": lambda length: fit.predict(np.broadcast_to(0.0, (length,))),
    "predict of a sequence claiming": lambda length: fit.predict(ClaimsLength(length, [0.0, 1.0, 2.0], None)),
    "predict of range": lambda length: fit.predict(range(length)),
}
before = snapshot(fit)
try:
    CALLS[sys.argv[1]](*map(int, sys.argv[2:]))
except (MemoryError, ValueError) as error:
    print(type(error).__name__)
    print(error)
else:
    print("no error")
assert snapshot(fit) == before
again = LinearRegression([1.0, 2.0, 4.0, 5.0], [2.0, 3.0, 7.0, 8.5])
assert snapshot(again) == before
print("carried on")
