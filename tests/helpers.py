import math
import os
import pathlib
import struct
import subprocess
import sys
import textwrap

TESTS = os.path.dirname(os.path.abspath(__file__))
ROOT = pathlib.Path(TESTS).parent

# Every statistic, in the order of the report's lines.
STATISTICS = [
    "mean_x", "mean_y", "pearson_correlation", "std_x", "std_y", "slope", "intercept",
    "rmse", "mae", "r_squared", "residual_std_error", "slope_standard_error", "t_value_slope",
]
# Arguments that every method accepts, for tests that call each one.
METHOD_ARGS = {**{name: () for name in STATISTICS}, "predict_single": (2.0,), "predict": ([1.0, 2.0],), "summary": ()}


def bits(value):
    """A float's exact identity: hex digits, sign of zero included; all NaNs alike."""
    return "nan" if math.isnan(value) else float.hex(value)


def raw_bits(value):
    """A float's complete bit pattern, a NaN's sign and payload included."""
    return struct.pack("<d", value).hex()


def snapshot(fit):
    """Everything an instance answers, as exact bits."""
    return [bits(getattr(fit, name)()) for name in STATISTICS] + [bits(v) for v in fit.predict([-1.0, 0.0, 3.5])]


def address_sanitizer_loaded():
    """Whether this process runs under AddressSanitizer, which aborts on a failed allocation
    instead of throwing std::bad_alloc and keeps memory of its own."""
    try:
        with open("/proc/self/maps") as maps:
            return "libasan" in maps.read()
    except OSError:
        return False


# ---------------------------------------------------------------------------
# Child processes and commands

def output_of(result):
    """What a finished process wrote, for a failure message."""
    def text(stream):
        return stream.decode(errors="replace") if isinstance(stream, bytes) else stream
    return f"exit status {result.returncode}\n--- stdout\n{text(result.stdout)}\n--- stderr\n{text(result.stderr)}"


def succeeded(result):
    """The standard output of a process that must have exited with status 0."""
    assert result.returncode == 0, output_of(result)
    return result.stdout


def run_child(code, *, stdout=subprocess.PIPE, timeout=300):
    """Runs Python code in a fresh interpreter, so that a crash fails one test instead of the run.
    The tests' own modules are importable there."""
    path = os.pathsep.join(filter(None, [TESTS, os.environ.get("PYTHONPATH")]))
    return subprocess.run(
        [sys.executable, "-c", textwrap.dedent(code)],
        stdout=stdout,
        stderr=subprocess.PIPE,
        timeout=timeout,
        env={**os.environ, "PYTHONFAULTHANDLER": "1", "PYTHONPATH": path},
    )


def call_in_child(module, function, *args, stdout=subprocess.PIPE, timeout=300):
    """Calls function(*args) of one of the tests' modules in a fresh interpreter."""
    return run_child(f"from {module} import {function}\n{function}(*{args!r})", stdout=stdout, timeout=timeout)


def run(args, cwd, timeout=600):
    """Runs a command to completion, its output captured as text."""
    env = {**os.environ, "PIP_DISABLE_PIP_VERSION_CHECK": "1", "PYTHONIOENCODING": "utf-8"}
    return subprocess.run(args, cwd=cwd, capture_output=True, text=True, encoding="utf-8", timeout=timeout, env=env)


def cmake_build(build_dir, *options):
    """Configures and builds the project with CMake into build_dir, for tests of other build settings."""
    import shutil

    import pybind11
    import pytest

    cmake = shutil.which("cmake") or pytest.fail("cmake is needed to build the project")
    configure = [cmake, "-S", ROOT, "-B", str(build_dir), "-DCMAKE_BUILD_TYPE=Release",
                 f"-Dpybind11_DIR={pybind11.get_cmake_dir()}", f"-DPython_EXECUTABLE={sys.executable}", *options]
    for command in (configure, [cmake, "--build", str(build_dir), "-j2"]):
        succeeded(subprocess.run(command, capture_output=True, text=True))
    return build_dir


# ---------------------------------------------------------------------------
# Hostile objects: arguments whose conversion fails partway

class Boom(Exception):
    """Raised by the hostile objects, so that their own failures can be told apart."""


def describe(value):
    """repr(), even of containers holding objects whose __repr__ raises."""
    try:
        return repr(value)
    except Exception:
        if isinstance(value, (list, tuple)):
            return f"{type(value).__name__}[{', '.join(describe(v) for v in value)}]"
        return f"<{type(value).__name__} whose repr raises>"


class Hostile:
    def __init__(self, *args):
        self.args = args

    def __repr__(self):
        return f"{type(self).__name__}({', '.join(describe(v) for v in self.args)})"


def raising_generator(items, fail_at):
    """Yields the items, raising Boom in place of item `fail_at` (None: never)."""
    for index, item in enumerate(items):
        if index == fail_at:
            raise Boom(f"generator at {index}")
        yield item


class ClaimsLength(Hostile):
    """ClaimsLength(length, items, fail_at): a sequence whose length and items need not agree;
    item `fail_at` raises Boom."""

    def __len__(self):
        return self.args[0]

    def __getitem__(self, index):
        length, items, fail_at = self.args
        if index == fail_at:
            raise Boom(f"item {index}")
        if index >= len(items):
            raise IndexError(index)
        return items[index]


class LengthRaises(ClaimsLength):
    def __len__(self):
        raise Boom("len")


class NextRaises(Hostile):
    """NextRaises(items, fail_at): an iterator that raises Boom in place of item `fail_at`."""

    def __init__(self, items, fail_at):
        super().__init__(items, fail_at)
        self.position = 0

    def __iter__(self):
        return self

    def __next__(self):
        items, fail_at = self.args
        if self.position == fail_at:
            raise Boom("next")
        if self.position >= len(items):
            raise StopIteration
        self.position += 1
        return items[self.position - 1]


# Fresh iterables that fail partway through, by how they fail.
FAILING_ITERABLES = {
    "generator": lambda: raising_generator([1.0, 2.0, 3.0], 2),
    "sequence": lambda: ClaimsLength(5, [0.0, 1.0, 2.0, 3.0, 4.0], 2),
    "map over a sequence": lambda: map(float, ClaimsLength(5, [0.0, 1.0, 2.0, 3.0, 4.0], 2)),
    "zip over a generator": lambda: zip(raising_generator([1.0, 2.0, 3.0], 2), [1.0, 2.0, 3.0]),
    "length": lambda: LengthRaises(5, [0.0, 1.0, 2.0, 3.0, 4.0], 2),
}
