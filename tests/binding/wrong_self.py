"""Calls every method through the class with a wrong `self`, KIND (one of WRONG_SELVES
below), and prints the first line of each TypeError (or that the method accepted it).

    wrong_self.py KIND
"""

import sys
import unittest.mock

from helpers import METHOD_ARGS
from trendfit import LinearRegression

WRONG_SELVES = {
    "blank instance": lambda: LinearRegression.__new__(LinearRegression),
    "None": lambda: None,
    "mock modelled on the class": lambda: unittest.mock.Mock(spec=LinearRegression),
    "__class__ class attribute": lambda: type("Claims", (), {"__class__": LinearRegression})(),
    "__class__ property": lambda: type("Claims", (), {"__class__": property(lambda self: LinearRegression)})(),
}
wrong_self = WRONG_SELVES[sys.argv[1]]()
assert wrong_self is None or isinstance(wrong_self, LinearRegression)  # what makes it dangerous
for name, args in METHOD_ARGS.items():
    try:
        getattr(LinearRegression, name)(wrong_self, *args)
    except TypeError as error:
        print(str(error).splitlines()[0])
    else:
        print(name, "accepted a wrong self")
