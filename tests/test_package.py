"""The package around the module: type stubs, metadata, README, examples, sdist and wheel."""

import ast
import importlib.metadata
import json
import math
import os
import re
import shutil
import struct
import subprocess
import sys
import tarfile
import tomllib
import zipfile
from pathlib import Path

import pytest

import trendfit
from trendfit import LinearRegression

ROOT = Path(__file__).resolve().parent.parent
TESTS = ROOT / "tests"
EXAMPLES = ROOT / "examples"
STUBS = ROOT / "trendfit-stubs"
README = (ROOT / "README.md").read_text(encoding="utf-8")
PYPROJECT = tomllib.loads((ROOT / "pyproject.toml").read_text(encoding="utf-8"))
PROJECT = PYPROJECT["project"]

CLIENT = TESTS / "typing_client.py"
WRONG_CALLS = TESTS / "typing_errors.py"
PUBLIC_METHODS = sorted(name for name in vars(LinearRegression) if not name.startswith("_"))


def run(args, cwd, timeout=600):
    """Runs a command to completion, its output captured as text."""
    env = {**os.environ, "PIP_DISABLE_PIP_VERSION_CHECK": "1", "PYTHONIOENCODING": "utf-8"}
    return subprocess.run(args, cwd=cwd, capture_output=True, text=True, encoding="utf-8", timeout=timeout, env=env)


def output_of(result):
    return f"exit status {result.returncode}\n--- stdout\n{result.stdout}\n--- stderr\n{result.stderr}"


def copy_into(directory, *files):
    """Copies files into a scratch directory, away from the source tree, and returns the copies."""
    return [Path(shutil.copy(file, directory)) for file in files]


# ---------------------------------------------------------------------------
# Type stubs


def installed_stubs():
    """The stub package that the installation placed beside the compiled module."""
    return Path(trendfit.__file__).parent / "trendfit-stubs"


@pytest.mark.parametrize("name", ["__init__.pyi", "py.typed"])
def test_installed_stubs_are_the_ones_in_the_tree(name):
    assert (installed_stubs() / name).read_bytes() == (STUBS / name).read_bytes()


def test_stubtest_finds_no_difference_from_the_runtime(tmp_path):
    result = run([sys.executable, "-m", "mypy.stubtest", "trendfit",
                  "--allowlist", str(TESTS / "stubtest_allowlist.txt")], cwd=tmp_path)
    assert result.returncode == 0, output_of(result)


def stub_tree():
    return ast.parse((STUBS / "__init__.pyi").read_text(encoding="utf-8"))


def stub_methods():
    (cls,) = [node for node in stub_tree().body if isinstance(node, ast.ClassDef) and node.name == "LinearRegression"]
    return {node.name: node for node in cls.body if isinstance(node, ast.FunctionDef)}


def runtime_signature(name):
    """Parameter count (after self) and result type from pybind11's generated signature line."""
    line = getattr(LinearRegression, name).__doc__.splitlines()[0]
    match = re.fullmatch(rf"{name}\(self: trendfit\.LinearRegression((?:, arg\d+: .+?)*)\) -> (.+)", line)
    assert match, line
    return match[1].count(", arg"), match[2]


def test_stubs_declare_the_module_and_class_members_and_nothing_else():
    names = []
    for node in stub_tree().body:
        if isinstance(node, ast.ClassDef | ast.FunctionDef):
            names.append(node.name)
        elif isinstance(node, ast.Assign):
            names += [target.id for target in node.targets]
        elif isinstance(node, ast.AnnAssign):
            names.append(node.target.id)
    assert [name for name in names if not name.startswith("_")] == [
        name for name in vars(trendfit) if not name.startswith("_")]
    assert sorted(stub_methods()) == sorted(PUBLIC_METHODS + ["__init__"])


@pytest.mark.parametrize("name", PUBLIC_METHODS + ["__init__"])
def test_stub_signatures_match_the_runtime(name):
    count, result = runtime_signature(name)
    stub = stub_methods()[name]
    # Every parameter positional-only, as the bindings name none of them.
    assert [a.arg for a in stub.args.posonlyargs][:1] == ["self"]
    assert len(stub.args.posonlyargs) == 1 + count
    assert not (stub.args.args or stub.args.kwonlyargs or stub.args.vararg or stub.args.kwarg or stub.args.defaults)
    assert ast.unparse(stub.returns) == result


# ---------------------------------------------------------------------------
# Type checkers on a client that uses every method and on deliberately wrong calls


def mypy_errors(file, cwd, *options):
    result = run([sys.executable, "-m", "mypy", "--strict", "--no-error-summary", *options, str(file)], cwd=cwd)
    errors = re.findall(r"^[^:\n]+:(\d+): error: .*\[([\w-]+)\]$", result.stdout, flags=re.MULTILINE)
    return result, {(int(line), code) for line, code in errors}


def pyright_errors(file, cwd):
    result = run([sys.executable, "-m", "pyright", "--outputjson", "--pythonpath", sys.executable, str(file)],
                 cwd=cwd)
    try:
        report = json.loads(result.stdout)
    except json.JSONDecodeError:
        pytest.fail(f"pyright did not report: {output_of(result)}")
    errors = {(d["range"]["start"]["line"] + 1, d.get("rule", "")) for d in report["generalDiagnostics"]
              if d["severity"] == "error"}
    return result, errors


def expected_errors(file, checker):
    """The (line, code) pairs that the file's `# expect:` comments name for a checker."""
    expected = set()
    for number, line in enumerate(file.read_text(encoding="utf-8").splitlines(), start=1):
        marker = re.search(r"# expect:(.*)$", line)
        codes = re.search(rf"\b{checker}\[([^\]]*)\]", marker[1]) if marker else None
        if codes:
            expected |= {(number, code.strip()) for code in codes[1].split(",")}
    return expected


def test_mypy_strict_accepts_the_client(tmp_path):
    (client,) = copy_into(tmp_path, CLIENT)
    result, errors = mypy_errors(client, tmp_path)
    assert result.returncode == 0 and not errors, output_of(result)


def test_pyright_strict_accepts_the_client(tmp_path):
    (client,) = copy_into(tmp_path, CLIENT)
    result, errors = pyright_errors(client, tmp_path)
    assert result.returncode == 0 and not errors, output_of(result)


def test_client_runs_and_gets_the_types_it_declares(tmp_path):
    (client,) = copy_into(tmp_path, CLIENT)
    result = run([sys.executable, str(client)], cwd=tmp_path)
    assert result.returncode == 0, output_of(result)


@pytest.mark.parametrize("checker", ["mypy", "pyright"])
def test_checkers_report_exactly_the_wrong_calls(tmp_path, checker):
    (wrong,) = copy_into(tmp_path, WRONG_CALLS)
    expected = expected_errors(wrong, checker)
    assert expected, "the file names no expected errors"
    result, errors = (mypy_errors if checker == "mypy" else pyright_errors)(wrong, tmp_path)
    assert result.returncode == 1, output_of(result)
    assert sorted(errors) == sorted(expected), output_of(result)


def test_wrong_calls_also_fail_at_run_time(tmp_path):
    (wrong,) = copy_into(tmp_path, WRONG_CALLS)
    result = run([sys.executable, str(wrong)], cwd=tmp_path)
    assert result.returncode == 0, output_of(result)


# ---------------------------------------------------------------------------
# Installed metadata


def test_version_comes_from_the_installed_metadata():
    assert importlib.metadata.version("trendfit") == PROJECT["version"]
    assert not hasattr(trendfit, "__version__")


def clauses(specifier):
    return {clause.strip() for clause in specifier.split(",")}


def test_installed_metadata_is_the_projects():
    metadata = importlib.metadata.metadata("trendfit")
    assert (metadata["Name"], metadata["Summary"], metadata["License-Expression"]) == (
        PROJECT["name"], PROJECT["description"], PROJECT["license"])
    assert clauses(metadata["Requires-Python"]) == clauses(PROJECT["requires-python"])
    assert metadata.get_all("Classifier") == PROJECT["classifiers"]
    assert set(PROJECT["dependencies"]) <= set(metadata.get_all("Requires-Dist"))


# ---------------------------------------------------------------------------
# README and examples


def code_blocks(language):
    return re.findall(rf"^```{language}\n(.*?)^```$", README, flags=re.MULTILINE | re.DOTALL)


def example_sessions():
    """(script, expected output) for each console block that runs an example."""
    sessions = []
    for block in code_blocks("console"):
        command, _, output = block.partition("\n")
        match = re.fullmatch(r"\$ python3 examples/(\w+\.py)", command)
        assert match, f"console block with an unexpected command: {command}"
        sessions.append((match[1], output))
    return sessions


def test_readme_shows_the_quickstart_source():
    assert (EXAMPLES / "quickstart.py").read_text(encoding="utf-8") in code_blocks("python")


def test_readme_runs_every_example():
    assert sorted(script for script, _ in example_sessions()) == sorted(p.name for p in EXAMPLES.glob("*.py"))


def png_size(path):
    data = path.read_bytes()
    assert data[:8] == b"\x89PNG\r\n\x1a\n" and data[12:16] == b"IHDR", f"{path} is not a PNG"
    return struct.unpack(">II", data[16:24])


@pytest.mark.parametrize("script, expected", example_sessions(), ids=[s for s, _ in example_sessions()])
def test_readme_example_output_is_real(tmp_path, script, expected):
    # A copy of examples/ without its pictures, so that the plot is drawn afresh and the tree is left alone.
    shutil.copytree(EXAMPLES, tmp_path / "examples", ignore=shutil.ignore_patterns("*.png", "__pycache__"))
    result = run([sys.executable, f"examples/{script}"], cwd=tmp_path)
    assert result.returncode == 0, output_of(result)
    assert result.stdout == expected
    # A picture that an example draws is the one the README shows, redrawn: same size.
    for drawn in re.findall(r"^wrote (\S+\.png)$", result.stdout, flags=re.MULTILINE):
        assert png_size(tmp_path / drawn) == png_size(ROOT / drawn)


def markdown_table(header_start):
    """The body rows of the README table whose header row begins with header_start, as lists of cells."""
    assert README.count(header_start) == 1, header_start
    rows = []
    for line in README[README.index(header_start):].splitlines()[2:]:
        if not line.startswith("|"):
            break
        rows.append([cell.strip() for cell in line.strip("|").split("|")])
    return rows


def test_api_table_lists_every_method():
    names = [re.match(r"`(\w+)\(", row[0])[1] for row in markdown_table("| Method | Returns |")]
    assert sorted(names) == PUBLIC_METHODS


nan, inf = math.nan, math.inf

# The data behind each column of the README's degenerate-data table.
DEGENERATE_COLUMNS = {
    "n = 0": [([], [])],
    "n = 1": [([2.0], [3.0])],
    "n = 2": [([0.0, 1.0], [1.0, 3.0]), ([0.1, 0.7], [0.3, 0.9]), ([0.1, 0.7], [0.9, 0.3])],
    "constant x": [([2.0, 2.0, 2.0], [1.0, 2.0, 4.0])],
    "constant y": [([1.0, 2.0, 4.0], [5.0, 5.0, 5.0])],
    "NaN in x": [([1.0, nan, 3.0], [1.0, 2.0, 3.0])],
    "±inf in y": [([1.0, 2.0, 3.0], [1.0, inf, 3.0]), ([1.0, 2.0, 3.0], [1.0, -inf, 3.0])],
}
DEGENERATE_HEADER = "| Method | n = 0 |"


def kind_of(value):
    if math.isnan(value):
        return "NaN"
    if math.isinf(value):
        return "+inf" if value > 0 else "−inf"
    return "0" if value == 0.0 else "finite"


def kinds_in_cell(cell):
    kinds = set(cell.split(" or "))
    if "±inf" in kinds:
        kinds = (kinds - {"±inf"}) | {"+inf", "−inf"}
    return kinds


def degenerate_table():
    """(method, {column: cell}) for each row of the README's degenerate-data table."""
    return [(re.match(r"`(\w+)\(", row[0])[1], dict(zip(DEGENERATE_COLUMNS, row[1:])))
            for row in markdown_table(DEGENERATE_HEADER)]


def test_degenerate_table_header_names_the_tested_columns():
    header = README[README.index(DEGENERATE_HEADER):].splitlines()[0]
    assert [cell.strip() for cell in header.strip("|").split("|")] == ["Method", *DEGENERATE_COLUMNS]


@pytest.mark.parametrize("method, cells", degenerate_table(), ids=[m for m, _ in degenerate_table()])
def test_degenerate_table_row_is_what_the_method_gives(method, cells):
    for column, data_sets in DEGENERATE_COLUMNS.items():
        fits = [LinearRegression(x, y) for x, y in data_sets]
        values = [fit.predict_single(1.5) if method == "predict_single" else getattr(fit, method)() for fit in fits]
        assert {kind_of(v) for v in values} == kinds_in_cell(cells[column]), column


def test_degenerate_table_covers_every_statistic():
    assert sorted(method for method, _ in degenerate_table()) == sorted(set(PUBLIC_METHODS) - {"predict", "summary"})


def heading_anchor(heading):
    return re.sub(r"[^\w\- ]", "", heading.strip().lower()).replace(" ", "-")


def test_readme_links_and_pictures_exist():
    anchors = {heading_anchor(h) for h in re.findall(r"^#+ (.+)$", README, flags=re.MULTILINE)}
    targets = re.findall(r"\]\(([^)\s]+)\)", README)
    assert targets
    for target in targets:
        if target.startswith("#"):
            assert target[1:] in anchors, target
        elif "://" not in target:
            assert (ROOT / target).is_file(), target


# ---------------------------------------------------------------------------
# sdist and wheel, and an install from the sdist into a fresh virtual environment


@pytest.fixture(scope="module")
def distributions(tmp_path_factory):
    """Builds the sdist, then the wheel from it, as `python -m build` does."""
    out = tmp_path_factory.mktemp("dist")
    result = run([sys.executable, "-m", "build", "--outdir", str(out), str(ROOT)], cwd=out)
    assert result.returncode == 0, output_of(result)
    (sdist,) = out.glob("trendfit-*.tar.gz")
    (wheel,) = out.glob("trendfit-*.whl")
    return sdist, wheel


def source_files():
    """The files that an sdist must carry to build, test and show the examples."""
    top = ["pyproject.toml", "CMakeLists.txt", "README.md", "LICENSE"]
    trees = ["model", "bindings", "trendfit-stubs", "examples", "tests"]
    found = [ROOT / name for name in top]
    for tree in trees:
        found += [p for p in (ROOT / tree).rglob("*")
                  if p.is_file() and not any(part.startswith((".", "__pycache__")) for part in p.parts)]
    return sorted(p.relative_to(ROOT).as_posix() for p in found)


def test_sdist_carries_the_sources(distributions):
    sdist, _ = distributions
    with tarfile.open(sdist) as archive:
        names = {name.partition("/")[2] for name in archive.getnames()}
    assert set(source_files()) <= names
    assert not [name for name in names if name.startswith("build/") or "__pycache__" in name]


def test_wheel_carries_the_module_the_stubs_and_the_license(distributions):
    _, wheel = distributions
    with zipfile.ZipFile(wheel) as archive:
        names = archive.namelist()
        stubs = {name: archive.read(f"trendfit-stubs/{name}") for name in ("__init__.pyi", "py.typed")}
        metadata = archive.read(f"trendfit-{PROJECT['version']}.dist-info/METADATA").decode()
    assert [name for name in names if re.fullmatch(r"trendfit\.[^/]+\.(so|pyd)", name)]
    assert stubs == {name: (STUBS / name).read_bytes() for name in stubs}
    assert f"trendfit-{PROJECT['version']}.dist-info/licenses/LICENSE" in names
    assert f"\nName: {PROJECT['name']}\n" in metadata and f"\nVersion: {PROJECT['version']}\n" in metadata


@pytest.fixture(scope="module")
def fresh_install(distributions, tmp_path_factory):
    """A new virtual environment, without the system's packages, with trendfit installed from the sdist.

    The environment already holds a later pybind11 than the pinned one, as a
    machine with pybind11 preinstalled does: the build must not pick it up.
    """
    sdist, _ = distributions
    place = tmp_path_factory.mktemp("fresh")
    result = run([sys.executable, "-m", "venv", str(place / "env")], cwd=place)
    assert result.returncode == 0, output_of(result)
    python = place / "env" / ("Scripts" if os.name == "nt" else "bin") / "python"
    pin = next(r for r in PYPROJECT["build-system"]["requires"] if r.startswith("pybind11=="))
    for requirement in (pin.replace("==", ">"), str(sdist)):
        result = run([str(python), "-m", "pip", "install", "--no-cache-dir", requirement], cwd=place)
        assert result.returncode == 0, output_of(result)
    with tarfile.open(sdist) as archive:
        archive.extractall(place, filter="data")
    return python, place / sdist.name.removesuffix(".tar.gz")


def test_sdist_installs_and_its_quickstart_runs(fresh_install):
    python, unpacked = fresh_install
    result = run([str(python), "examples/quickstart.py"], cwd=unpacked)
    assert result.returncode == 0, output_of(result)
    assert ("quickstart.py", result.stdout) in example_sessions()
    version = run([str(python), "-c", "import importlib.metadata as m; print(m.version('trendfit'))"], cwd=unpacked)
    assert version.stdout == f"{PROJECT['version']}\n", output_of(version)


def test_fresh_install_is_built_with_the_pinned_pybind11(fresh_install):
    python, unpacked = fresh_install
    signatures = "import trendfit; print(*(m.__doc__ for m in vars(trendfit.LinearRegression).values()" \
                 " if callable(m) and m.__doc__), sep='')"
    there = run([str(python), "-c", signatures], cwd=unpacked)
    here = run([sys.executable, "-c", signatures], cwd=unpacked)
    assert there.returncode == here.returncode == 0, output_of(there) + output_of(here)
    assert there.stdout == here.stdout


def test_mypy_finds_the_stubs_in_the_fresh_install(fresh_install, tmp_path):
    python, _ = fresh_install
    (client,) = copy_into(tmp_path, CLIENT)
    # That environment holds trendfit and NumPy alone: the client's data frames are left unchecked there.
    (tmp_path / "mypy.ini").write_text("[mypy-pandas.*,polars.*]\nignore_missing_imports = True\n")
    result, errors = mypy_errors(client, tmp_path, "--python-executable", str(python))
    assert result.returncode == 0 and not errors, output_of(result)
