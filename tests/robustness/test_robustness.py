"""Robustness, each in a child process so that a crash fails its test instead of the run:
hostile input fuzzed, memory and references over many cycles, and threads sharing instances."""

import json
import subprocess

import pytest

from helpers import STATISTICS, run_script, succeeded

FUZZ_EXAMPLES = 10_000


@pytest.mark.slow
def test_hostile_calls_give_correct_results_or_the_named_errors(tmp_path):
    # Hypothesis throws arbitrary Python objects at the constructor and at every
    # method, as arguments and as `self` (fuzz.py): each call
    # gives the correct result or exactly the exception that the conversion
    # rules call for, and leaves the instance as it was.
    result_path, last_example_path = tmp_path / "count", tmp_path / "last example"
    result = run_script("robustness/fuzz", FUZZ_EXAMPLES, result_path, last_example_path, stdout=subprocess.DEVNULL,
                        timeout=3600)
    last = last_example_path.read_text(errors="replace") if last_example_path.exists() else "none"
    assert result.returncode == 0, f"{result.stderr.decode(errors='replace')[-8000:]}\nlast example: {last}"
    assert int(result_path.read_text()) >= FUZZ_EXAMPLES


RSS_GROWTH_LIMIT = 5 * 2**20
BLOCK_GROWTH_LIMIT = 1_000


@pytest.mark.slow
@pytest.mark.parametrize("output", ["/dev/null", "/dev/full"], ids=["report written", "report fails"])
def test_cycles_leak_no_memory_and_no_references(tmp_path, output):
    # 10^5 cycles of construct, call every method (the failing calls too), destroy
    # (leaks.py), with standard output a null device or a full one:
    # after warm-up, resident memory and the interpreter's allocated blocks stay
    # flat, and the argument objects keep their reference counts.
    results_path = tmp_path / "results.json"
    with open(output, "wb") as stdout:
        result = run_script("robustness/leaks", results_path, stdout=stdout, timeout=1800)
    succeeded(result)
    results = json.loads(results_path.read_text())
    before, after = results["reference counts"]
    assert after == before
    assert results["block growth"] < BLOCK_GROWTH_LIMIT
    if not results["address sanitizer"]:
        assert results["rss growth"] < RSS_GROWTH_LIMIT, f"{results['rss growth'] / 2**20:.1f} MiB"


def test_threads_sharing_instances_get_the_single_threaded_results(tmp_path, monkeypatch):
    # Eight threads on shared instances (threads.py): every method,
    # new constructions and initialisation of one blank instance all at once give
    # exactly the single-threaded results, with no crash.
    monkeypatch.delenv("PYTHONUNBUFFERED", raising=False)  # C stdio buffered, as users have it
    results_path, output_path = tmp_path / "results.json", tmp_path / "stdout"
    with open(output_path, "wb") as output:
        result = run_script("robustness/threads", results_path, stdout=output, timeout=1200)
    succeeded(result)
    results = json.loads(results_path.read_text())
    data_sets = results["data sets"]
    assert results["written"] == results["threads"] * results["rounds"] * data_sets * 2 + data_sets
    # Reports never interleave: the output is whole reports of the shared data sets, one after another.
    lines = output_path.read_text().splitlines(keepends=True)
    report_lines = len(STATISTICS)
    blocks = ["".join(lines[i:i + report_lines]) for i in range(0, len(lines), report_lines)]
    assert len(blocks) == results["written"]
    assert set(blocks) == set(results["reports"])
