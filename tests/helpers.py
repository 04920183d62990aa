import math
import os
import subprocess
import sys
import textwrap


def bits(value):
    """A float's exact identity: hex digits, sign of zero included; all NaNs alike."""
    return "nan" if math.isnan(value) else float.hex(value)


def run_child(code, *, stdout=subprocess.PIPE, timeout=300):
    """Runs Python code in a fresh interpreter, so that a crash fails one test instead of the run."""
    return subprocess.run(
        [sys.executable, "-c", textwrap.dedent(code)],
        stdout=stdout,
        stderr=subprocess.PIPE,
        timeout=timeout,
        env={**os.environ, "PYTHONFAULTHANDLER": "1"},
    )
