"""The type stubs: the installed ones are the tree's, they match the runtime, and type
checkers accept a client that uses every method and report each deliberately wrong call."""

import ast
import json
import re
import sys
from pathlib import Path

import pytest

import trendfit
from helpers import (CLIENT, STUBS, copy_into, installed_editable, mypy_errors, output_of, public_methods, run,
                     succeeded, tooling)
from trendfit import LinearRegression

HERE = Path(__file__).parent
WRONG_CALLS = HERE / "typing_errors.py"
PUBLIC_METHODS = public_methods()


def installed_stubs():
    """The stub package that the installation placed beside the compiled module."""
    return Path(trendfit.__file__).parent / "trendfit-stubs"


@pytest.mark.skipif(installed_editable(), reason="an editable install puts no stub files beside the module")
@pytest.mark.parametrize("name", ["__init__.pyi", "py.typed"])
def test_installed_stubs_are_the_ones_in_the_tree(name):
    assert (installed_stubs() / name).read_bytes() == (STUBS / name).read_bytes()


@tooling
def test_stubtest_finds_no_difference_from_the_runtime(tmp_path):
    result = run([sys.executable, "-m", "mypy.stubtest", "trendfit",
                  "--allowlist", str(HERE / "stubtest_allowlist.txt")], cwd=tmp_path)
    succeeded(result)


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


@tooling
def test_mypy_strict_accepts_the_client(tmp_path):
    (client,) = copy_into(tmp_path, CLIENT)
    result, errors = mypy_errors(client, tmp_path)
    assert result.returncode == 0 and not errors, output_of(result)


@tooling
def test_pyright_strict_accepts_the_client(tmp_path):
    (client,) = copy_into(tmp_path, CLIENT)
    result, errors = pyright_errors(client, tmp_path)
    assert result.returncode == 0 and not errors, output_of(result)


def test_client_runs_and_gets_the_types_it_declares(tmp_path):
    (client,) = copy_into(tmp_path, CLIENT)
    result = run([sys.executable, str(client)], cwd=tmp_path)
    succeeded(result)


@tooling
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
    succeeded(result)
