"""Fits X and Y and writes the report, then writes the raw bits of every statistic, in the
report's order, to standard error.

    summary.py X Y

X and Y are floats as helpers.floats_to_text writes them.
"""

import sys

from helpers import STATISTICS, floats_from_text, raw_bits
from trendfit import LinearRegression

fit = LinearRegression(floats_from_text(sys.argv[1]), floats_from_text(sys.argv[2]))
fit.summary()
sys.stderr.write(" ".join(raw_bits(getattr(fit, name)()) for name in STATISTICS))
