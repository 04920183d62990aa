import functools
import shutil
import subprocess
import sys

import pytest

from helpers import ROOT, succeeded
from trendfit import LinearRegression

# The project's private CMake builds, by the options that make each: the C++ test programs, the
# tests' libraries and a module that hands C stdio's pending output to fflush; and a build for
# x86-64-v3 processors, whose fused multiply-add the model must not use.
BUILD_TREES = {
    "tests": ["-DTRENDFIT_BUILD_CPP_TESTS=ON", "-DTRENDFIT_PORTABLE_STDIO=ON"],
    "x86-64-v3": ["-DCMAKE_CXX_FLAGS=-march=x86-64-v3"],
}


@pytest.fixture
def fit():
    """A small fit with nothing degenerate about it."""
    return LinearRegression([1.0, 2.0, 3.0, 4.0, 5.0], [2.0, 4.0, 5.0, 4.0, 5.0])


@pytest.fixture(scope="session")
def cmake_build(tmp_path_factory):
    """cmake_build(tree, target): the directory of a tree of BUILD_TREES with the target built in it.
    Each tree is configured once per test run, and each target built once, when a test first asks."""
    import pybind11

    cmake = shutil.which("cmake") or pytest.fail("cmake is needed to build the project")

    @functools.cache
    def configured(tree):
        directory = tmp_path_factory.mktemp(tree)
        command = [cmake, "-S", ROOT, "-B", directory, "-DCMAKE_BUILD_TYPE=Release", *BUILD_TREES[tree],
                   f"-Dpybind11_DIR={pybind11.get_cmake_dir()}", f"-DPython_EXECUTABLE={sys.executable}"]
        succeeded(subprocess.run(command, capture_output=True, text=True))
        return directory

    @functools.cache
    def built(tree, target):
        command = [cmake, "--build", configured(tree), "--target", target, "-j2"]
        succeeded(subprocess.run(command, capture_output=True, text=True))
        return configured(tree)

    return built
