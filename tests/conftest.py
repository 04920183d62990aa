import functools
import shutil
import subprocess
import sys

import pytest

from helpers import ROOT, succeeded
from trendfit import LinearRegression


@pytest.fixture
def fit():
    """A small fit with nothing degenerate about it."""
    return LinearRegression([1.0, 2.0, 3.0, 4.0, 5.0], [2.0, 4.0, 5.0, 4.0, 5.0])


@pytest.fixture(scope="session")
def cmake_build(tmp_path_factory):
    """cmake_build(tree, target): the directory of a private CMake build of the project with the target built
    in it; the tree "tests" has the C++ test programs, their libraries and a module that hands C stdio's
    pending output to fflush, and "x86-64-v3" is built for processors with fused multiply-add. Each tree is
    configured once per test run, and each target built once, when a test first asks for it."""
    import pybind11

    cmake = shutil.which("cmake") or pytest.fail("cmake is needed to build the project")
    options = {"tests": ["-DTRENDFIT_BUILD_CPP_TESTS=ON", "-DTRENDFIT_PORTABLE_STDIO=ON"],
               "x86-64-v3": ["-DCMAKE_CXX_FLAGS=-march=x86-64-v3"]}

    def run(*args):
        succeeded(subprocess.run([cmake, *args], capture_output=True, text=True))

    @functools.cache
    def configured(tree):
        directory = tmp_path_factory.mktemp(tree)
        run("-S", ROOT, "-B", directory, "-DCMAKE_BUILD_TYPE=Release", *options[tree],
            f"-Dpybind11_DIR={pybind11.get_cmake_dir()}", f"-DPython_EXECUTABLE={sys.executable}")
        return directory

    @functools.cache
    def built(tree, target):
        run("--build", configured(tree), "--target", target, "-j2")
        return configured(tree)

    return built
