"""How a notebook shows a report among the prints of its cell.

Runs the cell `print("before"); fit.summary(); print("after")` in a fresh
Jupyter kernel again and again (nbclient and ipykernel, from the test extra)
and counts how often the report comes after "before", before "after", and
not at all. --os-write runs the same with the report's bytes handed to
os.write(1, ...) instead: what ipykernel does with any descriptor-1 output.

    python3 bench/notebook_order.py [--runs 50] [--os-write]
"""

import argparse
import os

import nbclient
import nbformat

SETUP = """import os
from trendfit import LinearRegression
fit = LinearRegression([1.0, 2.0, 3.0], [2.0, 4.0, 6.0])
read_end, write_end = os.pipe()
saved = os.dup(1)
os.dup2(write_end, 1)
fit.summary()
os.dup2(saved, 1)
report = os.read(read_end, 4096)"""
CELLS = {"summary": 'print("before"); fit.summary(); print("after")',
         "os.write": 'print("before"); sys.stdout.flush(); os.write(1, report); print("after")'}


def cell_text(runs, cell):
    cells = [SETUP + "\nimport sys"] + [cell] * runs
    notebook = nbformat.v4.new_notebook(cells=[nbformat.v4.new_code_cell(cell) for cell in cells])
    saved = os.dup(1)
    os.dup2(os.open(os.devnull, os.O_WRONLY), 1)  # the kernel echoes descriptor 1 to its own standard output
    try:
        nbclient.NotebookClient(notebook, timeout=300, kernel_name="python3").execute()
    finally:
        os.dup2(saved, 1)
    return ["".join(output.get("text", "") for output in cell.outputs) for cell in notebook.cells[1:]]


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--runs", type=int, default=50)
    parser.add_argument("--os-write", action="store_true")
    arguments = parser.parse_args()
    runs, cell = arguments.runs, CELLS["os.write" if arguments.os_write else "summary"]
    os.environ.pop("PYTEST_CURRENT_TEST", None)  # under which ipykernel leaves descriptor 1 uncaptured
    own = early = late = 0  # own: after its cell's "before"; late: shown in the next cell instead
    texts = cell_text(runs, cell)
    for text in texts:
        before, after = text.find("before"), text.find("after")
        for at in (i for i in range(len(text)) if text.startswith("Mean(X)", i)):
            own += before < at
            late += at < before
            early += before < at < after
    print(f"{cell}\n{runs} executions: {own} reports in their own cell ({early} of them before 'after'), "
          f"{late} late in the next cell, {runs - own - late} never shown")

if __name__ == "__main__":
    main()
