"""A build for a CPU with fused multiply-add gives the same bits.

The compiler may only fuse a*b + c when allowed to contract; the build forbids
it, so code generated for x86-64-v3 (AVX2 + FMA) must reproduce the default
build exactly.
"""

import json
import pathlib
import platform
import re
import subprocess

import pytest

from helpers import ROOT, run_script, succeeded

V3_FLAGS = {"avx2", "fma", "bmi1", "bmi2", "movbe", "f16c"}


def cpu_runs_x86_64_v3():
    if platform.machine() != "x86_64":
        return False
    flags = set(re.search(r"^flags\s*:(.*)$", pathlib.Path("/proc/cpuinfo").read_text(), re.M).group(1).split())
    return V3_FLAGS <= flags


pytestmark = [pytest.mark.slow,
              pytest.mark.skipif(not cpu_runs_x86_64_v3(), reason="this CPU cannot run x86-64-v3 code")]


def test_v3_build_uses_avx_but_never_fuses(cmake_build):
    objects = [str(o) for o in cmake_build("x86-64-v3", "trendfit").rglob("trendfit_model.dir/**/*.o")]
    assert len(objects) == len(list(pathlib.Path(ROOT, "model").glob("*.cpp")))
    disassembly = subprocess.run(["objdump", "-d", *objects], check=True, capture_output=True, text=True).stdout
    assert re.search(r"\bvmulsd\b|\bvmulpd\b", disassembly), "the build did not target AVX"
    assert not re.search(r"\bvf(n)?m(add|sub)", disassembly), "the compiler fused a multiply and an add"


def test_v3_build_gives_the_same_bits(cmake_build):
    # Every statistic and a few predictions for NaN-laden and random data, as complete bit patterns.
    v3_bits = succeeded(run_script("numbers/all_bits", cmake_build("x86-64-v3", "trendfit")))
    assert json.loads(v3_bits) == json.loads(succeeded(run_script("numbers/all_bits")))
