"""Imports trendfit, binding lazily, and writes the ImportError's message to file descriptor 1:
run by other CPythons (any CPython 3) and, as source, in subinterpreters by refusal.py."""

import os
import sys

sys.setdlopenflags(os.RTLD_LAZY)
try:
    import trendfit  # noqa: F401
except ImportError as error:
    os.write(1, str(error).encode())
