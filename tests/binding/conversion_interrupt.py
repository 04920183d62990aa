"""Runs CALL, in which converting an argument raises the exception that ERROR makes;
checks that the caller gets that very exception and that the fit is unchanged,
and prints "propagated".

    conversion_interrupt.py ERROR CALL

CALL can use fit, LinearRegression, Raises (whose __float__ and __array__
raise), RaisesInIndex and raises_midway() (a generator that raises at its
second item).
"""

import sys

from helpers import snapshot
from trendfit import LinearRegression

ERROR = eval(sys.argv[1])


def fail(*args, **kwargs):
    raise ERROR


Raises = type("Raises", (), {"__float__": fail, "__array__": fail})
RaisesInIndex = type("RaisesInIndex", (), {"__index__": fail})
raises_midway = lambda: (fail() if value else value for value in (0.0, 1.0))  # noqa: E731

fit = LinearRegression([1.0, 2.0, 4.0], [1.0, 3.0, 2.0])
before = snapshot(fit)
try:
    # Compiled first: exec() of a string that raises KeyboardInterrupt would make the interpreter
    # end itself with SIGINT at exit, as for an uncaught one.
    exec(compile(sys.argv[2], "CALL", "exec"))
except BaseException as caught:
    assert caught is ERROR, repr(caught)
assert snapshot(fit) == before
print("propagated")
