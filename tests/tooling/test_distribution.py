"""The package around the module: installed metadata, the sdist and the wheel, and an
install from the sdist into a fresh virtual environment."""

import importlib.metadata
import os
import re
import sys
import tarfile
import tomllib
import zipfile

import pytest

import trendfit
from helpers import CLIENT, ROOT, STUBS, copy_into, example_sessions, mypy_errors, output_of, run, succeeded, tooling

PYPROJECT = tomllib.loads((ROOT / "pyproject.toml").read_text(encoding="utf-8"))
PROJECT = PYPROJECT["project"]


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
# sdist and wheel, and an install from the sdist into a fresh virtual environment


@pytest.fixture(scope="module")
def distributions(tmp_path_factory):
    """Builds the sdist, then the wheel from it, as `python -m build` does."""
    out = tmp_path_factory.mktemp("dist")
    result = run([sys.executable, "-m", "build", "--outdir", str(out), str(ROOT)], cwd=out)
    succeeded(result)
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


@tooling
def test_sdist_carries_the_sources(distributions):
    sdist, _ = distributions
    with tarfile.open(sdist) as archive:
        names = {name.partition("/")[2] for name in archive.getnames()}
    assert set(source_files()) <= names
    assert not [name for name in names if name.startswith(("build/", ".venv/", "venv/")) or "__pycache__" in name]


@tooling
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
    succeeded(result)
    python = place / "env" / ("Scripts" if os.name == "nt" else "bin") / "python"
    pin = next(r for r in PYPROJECT["build-system"]["requires"] if r.startswith("pybind11=="))
    for requirement in (pin.replace("==", ">"), str(sdist)):
        result = run([str(python), "-m", "pip", "install", "--no-cache-dir", requirement], cwd=place)
        succeeded(result)
    with tarfile.open(sdist) as archive:
        unpack(archive, place)
    return python, place / sdist.name.removesuffix(".tar.gz")


def unpack(archive, place):
    """Extracts the archive under place, refusing what tarfile's "data" filter refuses."""
    if hasattr(tarfile, "data_filter"):
        archive.extractall(place, filter="data")
        return
    # CPython 3.11.0 to 3.11.3 have no extraction filters: check each member as that filter
    # would (a plain file or folder, inside place), then extract.
    for member in archive.getmembers():
        target = (place / member.name).resolve()
        if not (member.isfile() or member.isdir()) or not target.is_relative_to(place.resolve()):
            raise tarfile.TarError(f"refusing to extract {member.name!r} from {archive.name}")
    archive.extractall(place)


@tooling
def test_sdist_installs_and_its_quickstart_runs(fresh_install):
    python, unpacked = fresh_install
    result = run([str(python), "examples/quickstart.py"], cwd=unpacked)
    assert ("quickstart.py", succeeded(result)) in example_sessions()
    version = run([str(python), "-c", "import importlib.metadata as m; print(m.version('trendfit'))"], cwd=unpacked)
    assert version.stdout == f"{PROJECT['version']}\n", output_of(version)


@pytest.mark.signatures
@tooling
def test_fresh_install_is_built_with_the_pinned_pybind11(fresh_install):
    python, unpacked = fresh_install
    signatures = "import trendfit; print(*(m.__doc__ for m in vars(trendfit.LinearRegression).values()" \
                 " if callable(m) and m.__doc__), sep='')"
    there = run([str(python), "-c", signatures], cwd=unpacked)
    here = run([sys.executable, "-c", signatures], cwd=unpacked)
    assert there.returncode == here.returncode == 0, output_of(there) + output_of(here)
    assert there.stdout == here.stdout


@tooling
def test_mypy_finds_the_stubs_in_the_fresh_install(fresh_install, tmp_path):
    python, _ = fresh_install
    (client,) = copy_into(tmp_path, CLIENT)
    # That environment holds trendfit and NumPy alone: the client's data frames are left unchecked there.
    (tmp_path / "mypy.ini").write_text("[mypy-pandas.*,polars.*]\nignore_missing_imports = True\n")
    result, errors = mypy_errors(client, tmp_path, "--python-executable", str(python))
    assert result.returncode == 0 and not errors, output_of(result)
