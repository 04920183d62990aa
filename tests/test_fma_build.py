"""A build for a CPU with fused multiply-add gives the same bits.

The compiler may only fuse a*b + c when allowed to contract; the build forbids
it, so code generated for x86-64-v3 (AVX2 + FMA) must reproduce the default
build exactly.
"""

import json
import math
import pathlib
import platform
import re
import subprocess

import numpy as np
import pytest

from helpers import ROOT, STATISTICS, cmake_build, raw_bits, run_child, succeeded
from test_numbers import NAN_DATA
from trendfit import LinearRegression

V3_FLAGS = {"avx2", "fma", "bmi1", "bmi2", "movbe", "f16c"}


def cpu_runs_x86_64_v3():
    if platform.machine() != "x86_64":
        return False
    flags = set(re.search(r"^flags\s*:(.*)$", pathlib.Path("/proc/cpuinfo").read_text(), re.M).group(1).split())
    return V3_FLAGS <= flags


pytestmark = [pytest.mark.slow,
              pytest.mark.skipif(not cpu_runs_x86_64_v3(), reason="this CPU cannot run x86-64-v3 code")]


def data_sets():
    yield from NAN_DATA
    rng = np.random.default_rng(2024)
    for offset, scale in [(0.0, 1.0), (1e9, 1e-3), (-3.5, 1e12), (1e-200, 1e-200)]:
        n = int(rng.integers(3, 2000))
        x = offset + scale * rng.normal(size=n)
        y = 0.75 * x + scale * rng.standard_cauchy(size=n)
        yield x.tolist(), y.tolist()
        # NaNs of both signs and infinities, where operand order decides which NaN comes out.
        x[rng.integers(0, n, 3)] = [math.nan, -math.nan, math.inf]
        y[rng.integers(0, n, 2)] = [-math.nan, -math.inf]
        yield x.tolist(), y.tolist()


def results_of():
    """Every statistic and a few predictions for every data set, as complete bit patterns."""
    out = []
    for x, y in data_sets():
        fit = LinearRegression(x, y)
        probes = x[:50] + [math.nan, -math.nan, math.inf]
        out.append([raw_bits(getattr(fit, name)()) for name in STATISTICS] + [raw_bits(v) for v in fit.predict(probes)])
    return out


@pytest.fixture(scope="module")
def v3_build(tmp_path_factory):
    return cmake_build(tmp_path_factory.mktemp("build-x86-64-v3"), "-DCMAKE_CXX_FLAGS=-march=x86-64-v3")


def test_v3_build_uses_avx_but_never_fuses(v3_build):
    objects = [str(o) for o in v3_build.rglob("trendfit_model.dir/**/*.o")]
    assert len(objects) == len(list(pathlib.Path(ROOT, "model").glob("*.cpp")))
    disassembly = subprocess.run(["objdump", "-d", *objects], check=True, capture_output=True, text=True).stdout
    assert re.search(r"\bvmulsd\b|\bvmulpd\b", disassembly), "the build did not target AVX"
    assert not re.search(r"\bvf(n)?m(add|sub)", disassembly), "the compiler fused a multiply and an add"


def test_v3_build_gives_the_same_bits(v3_build):
    result = run_child(f"""
        import json, sys
        sys.path.insert(0, {str(v3_build)!r})
        import trendfit
        assert trendfit.__file__.startswith({str(v3_build)!r}), trendfit.__file__
        from test_fma_build import results_of
        print(json.dumps(results_of()))
    """)
    assert json.loads(succeeded(result)) == results_of()
