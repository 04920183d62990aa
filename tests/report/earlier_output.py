"""Runs SCENARIO, a function below, with a fit, C's printf, and a sys.stdout whose flush
raises. For tests that output printed before a report, by Python or by C, comes before it.

    earlier_output.py SCENARIO
"""

import contextlib
import ctypes
import io
import os
import sys

from trendfit import LinearRegression

fit = LinearRegression([1.0, 2.0, 3.0], [2.0, 4.0, 6.0])
printf = ctypes.CDLL(None).printf


class FlushFails:
    def write(self, text):
        return len(text)

    def flush(self):
        raise KeyError("flush")


def captured_sys_stdout():
    captured = io.StringIO()
    sys.stdout = captured
    assert fit.summary() is None
    sys.stdout = sys.__stdout__
    print("captured", len(captured.getvalue()))


def print_and_printf():
    for i in range(2):
        print(f"H{i}")
        printf(b"C%d\n", i)
        fit.summary()
        print(f"F{i}")


def no_sys_stdout():
    print("header")
    sys.stdout = None  # as in embedded interpreters
    fit.summary()
    sys.stdout = sys.__stdout__
    print("footer")


def redirected_sys_stdout():
    print("header")
    with contextlib.redirect_stdout(io.StringIO()):
        fit.summary()
    print("footer")


def sys_stdout_rewrapped():
    print("header")
    sys.stdout = io.TextIOWrapper(sys.__stdout__.buffer)
    print("middle")
    fit.summary()
    sys.stdout.flush()


def partial_lines():
    print("P", end="")
    printf(b"C")
    fit.summary()
    print("after")


def closed_sys_stdout():
    sys.stdout.close()
    try:
        fit.summary()
    except ValueError:
        os.write(1, b"closed")


def flush_raises():
    sys.stdout = FlushFails()
    try:
        fit.summary()
    except KeyError:
        os.write(1, b"raised")
    sys.stdout = sys.__stdout__


def original_stdout_flush_raises():
    sys.__stdout__ = FlushFails()
    try:
        fit.summary()
    except KeyError:
        os.write(1, b"raised")


globals()[sys.argv[1]]()
