import math
import os
import struct
import subprocess
import sys
import textwrap

# Every statistic, in the order of the report's lines.
STATISTICS = [
    "mean_x", "mean_y", "pearson_correlation", "std_x", "std_y", "slope", "intercept",
    "rmse", "mae", "r_squared", "residual_std_error", "slope_standard_error", "t_value_slope",
]


def bits(value):
    """A float's exact identity: hex digits, sign of zero included; all NaNs alike."""
    return "nan" if math.isnan(value) else float.hex(value)


def address_sanitizer_loaded():
    """Whether this process runs under AddressSanitizer, which aborts on a failed allocation
    instead of throwing std::bad_alloc and keeps memory of its own."""
    try:
        with open("/proc/self/maps") as maps:
            return "libasan" in maps.read()
    except OSError:
        return False


def raw_bits(value):
    """A float's complete bit pattern, a NaN's sign and payload included."""
    return struct.pack("<d", value).hex()


def snapshot(fit):
    """Everything an instance answers, as exact bits."""
    return [bits(getattr(fit, name)()) for name in STATISTICS] + [bits(v) for v in fit.predict([-1.0, 0.0, 3.5])]


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


TESTS = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(TESTS)


def cmake_build(build_dir, *options):
    """Configures and builds the project with CMake into build_dir, for tests of other build settings."""
    import shutil

    import pybind11
    import pytest

    cmake = shutil.which("cmake") or pytest.fail("cmake is needed to build the project")
    configure = [cmake, "-S", ROOT, "-B", str(build_dir), "-DCMAKE_BUILD_TYPE=Release",
                 f"-Dpybind11_DIR={pybind11.get_cmake_dir()}", f"-DPython_EXECUTABLE={sys.executable}", *options]
    for command in (configure, [cmake, "--build", str(build_dir), "-j2"]):
        done = subprocess.run(command, capture_output=True, text=True)
        assert done.returncode == 0, done.stdout + done.stderr
    return build_dir
