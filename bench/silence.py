"""Sending trendfit's report to /dev/null.

summary() writes to file descriptor 1 itself, not through sys.stdout, so
the descriptor is pointed at /dev/null; C's buffer, which summary flushes
first, is flushed before, so that no one else's text lands there."""

import contextlib
import ctypes
import os
import sys

_libc = ctypes.CDLL(None)


def flush_c_stdio():
    _libc.fflush(None)


@contextlib.contextmanager
def c_stdout_to_devnull():
    sys.stdout.flush()  # Python's own pending text still goes where it should
    flush_c_stdio()
    saved = os.dup(1)
    devnull = os.open(os.devnull, os.O_WRONLY)
    try:
        os.dup2(devnull, 1)
        yield
    finally:
        os.dup2(saved, 1)
        os.close(saved)
        os.close(devnull)
