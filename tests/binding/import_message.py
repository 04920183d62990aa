"""Imports trendfit and writes the ImportError's message to file descriptor 1. Run by
other CPythons beside a copy of the module, with lazy binding so that their dynamic
loader does not refuse the file before the module can say why, and by refusal.py as
the source it runs in subinterpreters. Any CPython 3 runs it."""

import os
import sys

sys.setdlopenflags(os.RTLD_LAZY)
try:
    import trendfit  # noqa: F401
except ImportError as error:
    os.write(1, str(error).encode())
