"""Re-enters __init__ of the instance being initialised, from the __float__ of an
element of its x array, through a blank instance or a subclass's __init__; the
instance must keep the first model and still be destroyed. Prints "destroyed".

    reenter_init.py "blank instance"|subclass
"""

import gc
import sys
import weakref

import numpy as np

from helpers import snapshot
from trendfit import LinearRegression

INNER, OUTER_Y = ([1.0, 2.0, 4.0], [5.0, 7.0, 6.0]), [0.5, 0.25, 8.0]
target = []


class Reenters:
    def __float__(self):
        LinearRegression.__init__(target[0], *INNER)
        return 3.0


outer_x = np.array([Reenters(), 4.0, 9.0], dtype=object)


class Sub(LinearRegression):
    def __init__(self):
        target.append(self)
        super().__init__(outer_x, OUTER_Y)


if sys.argv[1] == "subclass":
    fit = Sub()
else:
    fit = LinearRegression.__new__(LinearRegression)
    target.append(fit)
    assert fit.__init__(outer_x, OUTER_Y) is None
assert snapshot(fit) == snapshot(LinearRegression(*INNER)), "the instance changed after construction"
gone = weakref.ref(fit)
del fit, target[:]
gc.collect()
assert gone() is None
print("destroyed")
