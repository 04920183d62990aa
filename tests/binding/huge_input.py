"""Runs SETUP, then CALL, which must fail with MemoryError or ValueError; prints the
error's type and message (or "no error"), checks that a fit made before and one
made after answer as before, and prints "carried on".

    huge_input.py SETUP CALL

The statements can use fit, np, ClaimsLength and LinearRegression.
"""

import sys

import numpy as np  # noqa: F401  (for the statements)

from helpers import ClaimsLength, snapshot  # noqa: F401
from trendfit import LinearRegression

fit = LinearRegression([1.0, 2.0, 4.0, 5.0], [2.0, 3.0, 7.0, 8.5])
before = snapshot(fit)
exec(compile(sys.argv[1], "SETUP", "exec"))
try:
    exec(compile(sys.argv[2], "CALL", "exec"))
except (MemoryError, ValueError) as error:
    print(type(error).__name__)
    print(error)
else:
    print("no error")
assert snapshot(fit) == before
again = LinearRegression([1.0, 2.0, 4.0, 5.0], [2.0, 3.0, 7.0, 8.5])
assert snapshot(again) == before
print("carried on")
