"""Fits X and Y and writes the report REPEAT times (once by default), then writes the
raw bits of every statistic, in the report's order, to standard error.

    summary.py X Y [REPEAT]

X and Y are floats as helpers.floats_to_text writes them.
"""

import struct
import sys

from helpers import STATISTICS, floats_from_text
from trendfit import LinearRegression

fit = LinearRegression(floats_from_text(sys.argv[1]), floats_from_text(sys.argv[2]))
for _ in range(int(sys.argv[3]) if len(sys.argv) > 3 else 1):
    fit.summary()
values = [getattr(fit, name)() for name in STATISTICS]
sys.stderr.write(" ".join(struct.pack("<d", v).hex() for v in values))
