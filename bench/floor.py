"""The measured hardware floor: chain_sum.c compiled at run time and called
through ctypes. A C compiler is already needed to build trendfit; without
one the benchmark still runs and only leaves the floor out."""

import ctypes
import os
import shlex
import subprocess
import sysconfig
import tempfile
from pathlib import Path

SOURCE = Path(__file__).with_name("chain_sum.c")
# Exact IEEE double, as trendfit itself is built: no fused or split sums.
FLAGS = ["-O2", "-ffp-contract=off", "-fno-fast-math", "-shared", "-fPIC"]


def c_compiler() -> list[str]:
    configured = os.environ.get("CC") or sysconfig.get_config_var("CC") or "cc"
    return shlex.split(configured)[:1]


def build_chain_sum(directory: str):
    """The compiled chain_sum, or None when no C compiler works here."""
    library = Path(directory) / "chain_sum.so"
    command = c_compiler() + FLAGS + ["-o", str(library), str(SOURCE)]
    try:
        subprocess.run(command, check=True, capture_output=True, timeout=120)
    except (OSError, subprocess.SubprocessError):
        return None
    function = ctypes.CDLL(str(library)).chain_sum
    function.argtypes = [ctypes.c_void_p, ctypes.c_size_t]
    function.restype = ctypes.c_double
    return function


class ChainSumFloor:
    """Owns the temporary build; `call_for(x)` gives a no-argument call that
    sums x with the strict running sum."""

    def __init__(self):
        self._directory = tempfile.TemporaryDirectory(prefix="trendfit-bench-")
        self._function = build_chain_sum(self._directory.name)

    @property
    def available(self) -> bool:
        return self._function is not None

    def call_for(self, x):
        function, address, count = self._function, ctypes.c_void_p(x.ctypes.data), x.size
        return lambda: function(address, count)

    def close(self):
        self._directory.cleanup()
