"""What the tests of several subjects share, and what the scripts they run in child
processes import. Importing it loads neither pytest, NumPy nor trendfit: every
child imports it, some before choosing which trendfit to load."""

import ast
import json
import math
import os
import pathlib
import re
import shutil
import struct
import subprocess
import sys

TESTS = os.path.dirname(os.path.abspath(__file__))
ROOT = pathlib.Path(TESTS).parent
STUBS = ROOT / "trendfit-stubs"
# A client that uses every kind of member, which the type checkers must accept.
CLIENT = pathlib.Path(TESTS, "tooling", "typing_client.py")

# The public methods that are not statistics, with arguments that each accepts.
OTHER_METHOD_ARGS = {"predict_single": (2.0,), "predict": ([1.0, 2.0],), "summary": ()}


def statistic_names():
    """Every statistic, in the order the class defines them, which is the report's: the methods
    that the type stubs declare as taking nothing and returning a float. The stubs are held to
    the class (test_stubs), and the class's public methods to these and OTHER_METHOD_ARGS
    (test_binding), so no method of another kind passes for a statistic."""
    tree = ast.parse((STUBS / "__init__.pyi").read_text())
    cls = next(node for node in tree.body if isinstance(node, ast.ClassDef) and node.name == "LinearRegression")
    return tuple(method.name for method in cls.body if isinstance(method, ast.FunctionDef)
                 and [a.arg for a in method.args.posonlyargs + method.args.args] == ["self"]
                 and not (method.args.vararg or method.args.kwonlyargs or method.args.kwarg)
                 and ast.unparse(method.returns) == "float")


STATISTICS = statistic_names()
# Arguments that every public method accepts, for tests that call each one.
METHOD_ARGS = {**{statistic: () for statistic in STATISTICS}, **OTHER_METHOD_ARGS}


def bits(value):
    """A float's exact identity: hex digits, sign of zero included; all NaNs alike."""
    return "nan" if math.isnan(value) else float.hex(value)


def raw_bits(value):
    """A float's complete bit pattern, a NaN's sign and payload included."""
    return struct.pack("<d", value).hex()


def snapshot(fit):
    """Everything an instance answers, as exact bits."""
    return [bits(getattr(fit, name)()) for name in STATISTICS] + [bits(v) for v in fit.predict([-1.0, 0.0, 3.5])]


def public_methods():
    """The class's public methods, as the compiled module has them, sorted."""
    from trendfit import LinearRegression

    return sorted(name for name in vars(LinearRegression) if not name.startswith("_"))


# ---------------------------------------------------------------------------
# Data sets

# NaNs of both signs, as the sign bit of a quiet NaN.
POSITIVE_NAN, NEGATIVE_NAN = math.nan, -math.nan


def noisy_line(seed, n):
    import numpy as np

    rng = np.random.default_rng(seed)
    x = rng.normal(3.0, 2.0, n)
    return x.tolist(), (0.5 * x + rng.normal(0.0, 1.0, n)).tolist()


def nan_data():
    """Data sets where operand order decides which of two NaNs comes out."""
    return [
        ([POSITIVE_NAN], [math.inf]),
        ([1.0, NEGATIVE_NAN, 3.0], [POSITIVE_NAN, 2.0, 5.0]),
        ([NEGATIVE_NAN, 2.0, 3.0], [1.0, 2.0, NEGATIVE_NAN]),
        ([math.inf, 2.0, -math.inf], [1.0, POSITIVE_NAN, 3.0]),
        ([1.0, 2.0, 4.0], [5.0, 5.0, 5.0]),
        noisy_line(7, 1001),
    ]


# ---------------------------------------------------------------------------
# The installation and the process

def installed_editable():
    """Whether trendfit is an editable install (pip install -e), as its installation records it.
    scikit-build-core's editable install loads the module from its build tree, without the stub
    files beside it, and checks that build in a process of its own at each import."""
    import importlib.metadata

    try:
        recorded = importlib.metadata.distribution("trendfit").read_text("direct_url.json")
    except importlib.metadata.PackageNotFoundError:
        return False
    return bool(recorded and json.loads(recorded).get("dir_info", {}).get("editable"))


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


def run_script(name, *args, stdout=subprocess.PIPE, timeout=300):
    """Runs the script tests/NAME.py (NAME as "report/summary") in a fresh interpreter, so that a crash
    fails one test instead of the run, with the arguments, as strings, on its command line. The tests'
    shared modules (helpers) are importable there."""
    path = os.pathsep.join(filter(None, [TESTS, os.environ.get("PYTHONPATH")]))
    return subprocess.run([sys.executable, os.path.join(TESTS, f"{name}.py"), *map(str, args)], stdout=stdout,
                          stderr=subprocess.PIPE, timeout=timeout,
                          env={**os.environ, "PYTHONFAULTHANDLER": "1", "PYTHONPATH": path})


def floats_to_text(values):
    """Floats, in lists nested to any depth, as JSON text of exact hex digits, for a child's command
    line: NaN signs, infinities and -0.0 survive."""
    def hex_digits(value):
        return [hex_digits(v) for v in value] if isinstance(value, (list, tuple)) else float.hex(value)
    return json.dumps(hex_digits(values))


def floats_from_text(text):
    """The nested lists of floats that floats_to_text wrote."""
    def parsed(value):
        return [parsed(v) for v in value] if isinstance(value, list) else float.fromhex(value)
    return parsed(json.loads(text))


def run(args, cwd, timeout=600):
    """Runs a command to completion, its output captured as text."""
    env = {**os.environ, "PIP_DISABLE_PIP_VERSION_CHECK": "1", "PYTHONIOENCODING": "utf-8"}
    return subprocess.run(args, cwd=cwd, capture_output=True, text=True, encoding="utf-8", timeout=timeout, env=env)


def tooling(test):
    """Marks a test that runs a type checker or builds the project: slow, and left out of the sanitized run."""
    import pytest

    return pytest.mark.slow(pytest.mark.tooling(test))


def copy_into(directory, *files):
    """Copies files into a scratch directory, away from the source tree, and returns the copies."""
    return [pathlib.Path(shutil.copy(file, directory)) for file in files]


def mypy_errors(file, cwd, *options):
    """mypy --strict's result on a file, and its errors as (line, code) pairs."""
    result = run([sys.executable, "-m", "mypy", "--strict", "--no-error-summary", *options, str(file)], cwd=cwd)
    errors = re.findall(r"^[^:\n]+:(\d+): error: .*\[([\w-]+)\]$", result.stdout, flags=re.MULTILINE)
    return result, {(int(line), code) for line, code in errors}


# ---------------------------------------------------------------------------
# The README

def documentation_pages():
    """README.md, then the pages in docs/ that it leaves the details to."""
    return [ROOT / "README.md", *sorted((ROOT / "docs").glob("*.md"))]


def readme():
    """The README and the pages in docs/, as one text."""
    return "\n".join(page.read_text(encoding="utf-8") for page in documentation_pages())


def readme_code_blocks(language):
    return re.findall(rf"^```{language}\n(.*?)^```$", readme(), flags=re.MULTILINE | re.DOTALL)


def example_sessions():
    """(script, expected output) for each console block of the README that runs an example."""
    sessions = []
    for block in readme_code_blocks("console"):
        command, _, output = block.partition("\n")
        match = re.fullmatch(r"\$ ~/\.venvs/trendfit/bin/python examples/(\w+\.py)", command)
        assert match, f"console block with an unexpected command: {command}"
        sessions.append((match[1], output))
    return sessions


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
