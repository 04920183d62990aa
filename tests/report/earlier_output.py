"""Runs CODE after this prelude: a fit, C's printf, and a sys.stdout whose flush raises.
For tests that output printed before a report, by Python or by C, comes before it.

    earlier_output.py CODE
"""

import contextlib  # noqa: F401  (for CODE)
import ctypes
import io  # noqa: F401  (for CODE)
import os  # noqa: F401  (for CODE)
import sys
import textwrap

from trendfit import LinearRegression

fit = LinearRegression([1.0, 2.0, 3.0], [2.0, 4.0, 6.0])
printf = ctypes.CDLL(None).printf


class FlushFails:
    def write(self, text):
        return len(text)

    def flush(self):
        raise KeyError("flush")


exec(compile(textwrap.dedent(sys.argv[1]), "CODE", "exec"))
