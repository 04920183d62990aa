"""Calls every method through the class with a wrong `self`, made by the expression
given, and prints the first line of each TypeError (or that the method accepted it).

    wrong_self.py EXPRESSION
"""

import sys
import unittest.mock  # noqa: F401  (for the expression)

from helpers import METHOD_ARGS
from trendfit import LinearRegression

wrong_self = eval(sys.argv[1])
assert wrong_self is None or isinstance(wrong_self, LinearRegression)  # what makes it dangerous
for name, args in METHOD_ARGS.items():
    try:
        getattr(LinearRegression, name)(wrong_self, *args)
    except TypeError as error:
        print(str(error).splitlines()[0])
    else:
        print(name, "accepted a wrong self")
