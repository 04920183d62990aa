"""The README, the pages in docs/ and the examples: the quickstart source, the output of each
example, the method table and the degenerate-data table are what the code really gives, and
every link and picture is there."""

import math
import re
import shutil
import struct
import sys

import pytest

from helpers import (ROOT, documentation_pages, example_sessions, public_methods, readme, readme_code_blocks, run,
                     succeeded)
from trendfit import LinearRegression

EXAMPLES = ROOT / "examples"
README = readme()
PUBLIC_METHODS = public_methods()


def test_readme_shows_the_quickstart_source():
    assert (EXAMPLES / "quickstart.py").read_text(encoding="utf-8") in readme_code_blocks("python")


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
    assert succeeded(result) == expected
    # A picture that an example draws is the one the README shows, redrawn: same size.
    for drawn in re.findall(r"^wrote (\S+\.png)$", result.stdout, flags=re.MULTILINE):
        assert png_size(tmp_path / drawn) == png_size(ROOT / drawn)


def markdown_table(header_start):
    """The body rows of the one table, in the README or docs/, whose header row begins with header_start."""
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

# The data behind each column of the degenerate-data table.
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
    """(method, {column: cell}) for each row of the degenerate-data table."""
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


def anchors(page):
    return {heading_anchor(h) for h in re.findall(r"^#+ (.+)$", page.read_text(encoding="utf-8"), flags=re.MULTILINE)}


@pytest.mark.parametrize("page", documentation_pages(), ids=lambda page: page.name)
def test_links_and_pictures_exist(page):
    targets = re.findall(r"\]\(([^)\s]+)\)", page.read_text(encoding="utf-8"))
    assert targets
    for target in (t for t in targets if "://" not in t):
        path, _, anchor = target.partition("#")
        linked = page.parent / path if path else page
        assert linked.is_file(), target
        assert not anchor or anchor in anchors(linked), target
