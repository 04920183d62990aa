"""The report, one line per statistic, on the process's standard output."""

import contextlib
import ctypes
import errno
import math
import os
import pty
import struct
import subprocess
import termios

import numpy as np
import pytest

from helpers import address_sanitizer_loaded, floats_to_text, run_script, succeeded

LABELS = [
    "Mean(X): ", "Mean(Y): ", "Pearson correlation: ", "Std(X): ", "Std(Y): ", "Slope: ", "Intercept: ",
    "RMSE: ", "MAE: ", "R\u00b2: ", "Residual Std Error: ", "Slope Std Error: ", "t-value (slope): ",
]

FIVE_POINTS_X, FIVE_POINTS_Y = [1.0, 2.0, 3.0, 4.0, 5.0], [2.0, 4.0, 5.0, 4.0, 5.0]
FIVE_POINTS_VALUES = ["3", "4", "0.774597", "1.58114", "1.22474", "0.6", "2.2", "0.69282", "0.64", "0.6",
                      "0.894427", "0.282843", "2.12132"]

_libc = ctypes.CDLL(None)


@pytest.fixture(autouse=True)
def buffered_c_stdio(monkeypatch):
    """Children run with C stdio buffered, as users have it."""
    monkeypatch.delenv("PYTHONUNBUFFERED", raising=False)


def platform_g(value):
    """The C library's own %g text of a double, NaN and infinity spellings included."""
    buffer = ctypes.create_string_buffer(64)
    _libc.snprintf(buffer, 64, b"%g", ctypes.c_double(value))
    return buffer.value.decode()


def report_of(x, y):
    return succeeded(run_script("report/summary", floats_to_text(x), floats_to_text(y)))


def expected_report(values):
    return "".join(f"{label}{value}\n" for label, value in zip(LABELS, values)).encode()


@pytest.mark.parametrize(
    "x, y, values",
    [
        ([1.0, 2.0, 3.0], [2.0, 4.0, 6.0], ["2", "4", "1", "1", "2", "2", "0", "0", "0", "1", "0", "0",
                                            platform_g(math.inf)]),
        (FIVE_POINTS_X, FIVE_POINTS_Y, FIVE_POINTS_VALUES),
    ],
)
def test_worked_reports(x, y, values):
    assert report_of(x, y) == expected_report(values)


def random_data(seed, special=None):
    rng = np.random.default_rng(seed)
    n = int(rng.integers(1, 50))
    x = (rng.normal(0, 1, n) * 10.0 ** rng.integers(-20, 20, n)).tolist()
    y = (rng.normal(0, 1, n) * 10.0 ** rng.integers(-20, 20, n)).tolist()
    if special is not None:
        x[0] = special
    return x, y


@pytest.mark.parametrize(
    "x, y",
    [([], []), ([2.0], [3.0]), ([1.0, 2.0], [1.0, 3.0]), ([2.0, 2.0, 2.0], [1.0, 2.0, 4.0]),
     ([1.0, 2.0, 4.0], [5.0, 5.0, 5.0]), ([1e-100, 2e-100, 3e-100], [1e-100, 2e-100, 3e-100]),
     ([1e154, 2e154, 3e154], [1.0, 2.0, 3.0]), ([1e100, 2e100, 3e100], [1e100, 2e100, 3e100]),
     ([0.1, 0.7], [0.9, 0.3]), ([0.1, 0.1, 0.1], [1.0, 2.0, 4.0]),  # -0, e-16, e+16
     random_data(1), random_data(2), random_data(3, math.nan), random_data(4, math.inf), random_data(5, -math.inf)],
)
def test_each_line_shows_its_method_value(x, y):
    # Values cross the process boundary as raw bytes, so a NaN keeps its sign.
    result = run_script("report/summary", floats_to_text(x), floats_to_text(y))
    values = [struct.unpack("<d", bytes.fromhex(v))[0] for v in result.stderr.decode().split()]
    assert succeeded(result) == expected_report(platform_g(v) for v in values)


def test_report_bypasses_python_stdout():
    result = run_script("report/scenarios", "captured_sys_stdout")
    assert succeeded(result).startswith(b"Mean(X): 2\n") or result.stdout.endswith(b"t-value (slope): inf\n")
    assert b"captured 0\n" in result.stdout
    assert result.stdout.count(b"\n") == len(LABELS) + 1  # the report and the "captured" line


# Output printed before a report (by Python, then by C) comes before it, with no flush in the script.
# Each scenario is a function in scenarios.py.
EARLIER_OUTPUTS = {
    "print_and_printf": "H0\nC0\n{R}F0\nH1\nC1\n{R}F1\n",
    "no_sys_stdout": "header\n{R}footer\n",
    "redirected_sys_stdout": "header\n{R}footer\n",
    "sys_stdout_rewrapped": "header\nmiddle\n{R}",
    "partial_lines": "PC{R}after\n",
    "closed_sys_stdout": "closed",
    "flush_raises": "raised",
    "original_stdout_flush_raises": "interrupted raised",
}


@pytest.mark.parametrize("scenario, expected", EARLIER_OUTPUTS.items(), ids=EARLIER_OUTPUTS)
@pytest.mark.parametrize("destination", ["pipe", "file", "terminal"])
@pytest.mark.parametrize("stdio", ["taken", pytest.param("portable", marks=pytest.mark.slow)])
def test_earlier_output_keeps_its_place(cmake_build, tmp_path, monkeypatch, scenario, expected, destination, stdio):
    if stdio == "portable":  # the module built to hand C stdio's output to fflush
        monkeypatch.setenv("PYTHONPATH", str(cmake_build("tests", "trendfit")))
    output = standard_output_on(destination, tmp_path, "report/scenarios", scenario)
    report = report_of([1.0, 2.0, 3.0], [2.0, 4.0, 6.0])
    assert output == expected.encode().replace(b"{R}", report)


def standard_output_on(destination, tmp_path, script, *args):
    """What a script writes to standard output when that is a pipe, a file or a terminal (a
    pseudo-terminal, where C stdio and Python buffer by line, with no newline translation)."""
    if destination == "pipe":
        return succeeded(run_script(script, *args))
    if destination == "file":
        with open(tmp_path / "out", "w+b") as file:
            succeeded(run_script(script, *args, stdout=file))
            file.seek(0)
            return file.read()
    leader, follower = pty.openpty()
    attributes = termios.tcgetattr(follower)
    attributes[1] &= ~termios.OPOST
    termios.tcsetattr(follower, termios.TCSANOW, attributes)
    try:
        succeeded(run_script(script, *args, stdout=follower))
    finally:
        os.close(follower)
    chunks = []
    with contextlib.suppress(OSError):  # EIO once all is read and the terminal is closed
        while chunk := os.read(leader, 4096):
            chunks.append(chunk)
    os.close(leader)
    return b"".join(chunks)


# Report write failures: OSError each time, and the stream recovers each time
FAILING_OUTPUTS = {
    "full disk": (errno.ENOSPC, "full_disk", 0),
    "broken pipe": (errno.EPIPE, "broken_pipe", 0),
    "full non-blocking pipe": (errno.EAGAIN, "full_pipe", 0),
    "file size limit": (errno.EFBIG, "limited_file", 100),  # the error says what part went out
}


@pytest.mark.parametrize("expected_errno, open_failing, written", FAILING_OUTPUTS.values(), ids=FAILING_OUTPUTS.keys())
def test_write_failures_raise_os_error_and_the_stream_recovers_every_time(tmp_path, expected_errno, open_failing,
                                                                          written):
    data = ([1.0, 2.0, 4.0, 5.0], [2.0, 3.0, 7.0, 8.5])
    result = run_script("report/failing_output", open_failing, expected_errno, written, tmp_path,
                        *map(floats_to_text, data), stdout=subprocess.DEVNULL)
    succeeded(result)
    assert [(tmp_path / f"after{cycle}.txt").read_bytes() for cycle in range(3)] == [report_of(*data)] * 3


# Each scenario is a function in scenarios.py, with a fit; standard output turned into a pipe
# that a Python thread drains, or into one that nobody reads. The reports that reach it, and
# how often other texts do.
DELIVERIES = {
    "fork_while_another_thread_writes": (1, {}),
    "daemon_threads_writing_at_exit": (0, {}),
    "capfd": (0, {}),
    "timer_signals": (600, {}),
    "c_output_kept_when_a_handler_raises": (1, {b"c" * 3000: 1}),
    "parents_c_output_twice_after_a_forked_childs_report": (1, {b"pending at the fork\n": 2}),
    "forked_childs_own_c_output_kept": (1, {b"Loading...\n": 3, b"Progress: child 100%\n": 1}),
    "non_blocking_socket_read_slowly": (0, {}),
    "report_asked_for_by_a_handler_while_blocked": (0, {}),
}


@pytest.mark.parametrize("scenario", DELIVERIES)
def test_every_report_reaches_standard_output_once(scenario):
    if scenario == "daemon_threads_writing_at_exit" and address_sanitizer_loaded():
        pytest.skip("UBSan flags pybind11's own catch of the unwind that ends such a thread")
    reports, others = DELIVERIES[scenario]
    report = report_of([1.0, 2.0, 3.0], [2.0, 4.0, 6.0])
    output = succeeded(run_script("report/scenarios", scenario, report.decode(), timeout=120))
    assert output.count(report) == reports and output.count(b"Mean(") == 2 * reports
    assert {text: output.count(text) for text in others} == others


def test_a_notebook_shows_every_report(monkeypatch):
    monkeypatch.delenv("PYTEST_CURRENT_TEST")  # under which ipykernel leaves descriptor 1 uncaptured
    import nbclient
    import nbformat

    # ipykernel forwards descriptor-1 output from a thread of its own and drops
    # what arrives after its cell has ended: each cell gives it a moment.
    settle = "\nimport time; time.sleep(0.5)"
    cells = ["from trendfit import LinearRegression\nfit = LinearRegression([1.0, 2.0, 3.0], [2.0, 4.0, 6.0])",
             "fit.summary()" + settle, "print('between')", "fit.summary()\nprint('after')\nfit.summary()" + settle]
    notebook = nbformat.v4.new_notebook(cells=[nbformat.v4.new_code_cell(cell) for cell in cells])
    nbclient.NotebookClient(notebook, timeout=120, kernel_name="python3").execute()
    text = "".join(output.get("text", "") for cell in notebook.cells for output in cell.outputs)
    report = report_of([1.0, 2.0, 3.0], [2.0, 4.0, 6.0]).decode()
    assert text.count(report) == 3 and text.count("Mean(") == 6 and "between" in text and "after" in text


def program(cmake_build, name):
    """The command that runs a C++ test program."""
    return [cmake_build("tests", name) / name]


@pytest.mark.slow
def test_report_ignores_formatting_state_other_code_left_on_the_stream(cmake_build):
    # A C++ program sets precision, flags, width, fill and a comma-decimal
    # locale on std::cout, writes the report and prints the state afterwards.
    done = subprocess.run(program(cmake_build, "report_with_altered_stream"), capture_output=True, timeout=60)
    assert succeeded(done) == expected_report(FIVE_POINTS_VALUES)
    assert done.stderr == b"precision=2 width=30 fill=* scientific=1 showpos=1 decimal=,\n"


@pytest.mark.slow
def test_write_path_handles_each_answer_of_the_system(cmake_build):
    # Interrupted, short, refused and failed writes and waits, played through the
    # calls the write path makes: what is delivered, put back and raised.
    done = subprocess.run(program(cmake_build, "standard_output_calls"), capture_output=True, timeout=60)
    assert done.returncode == 0, done.stdout.decode()


@pytest.mark.slow
def test_report_values_have_the_bits_of_their_methods(cmake_build):
    # The report shares its passes; NaN payloads show any value that does not.
    succeeded(subprocess.run(program(cmake_build, "report_values_match_methods"), capture_output=True, timeout=60))
