"""Judges the sanitizer logs of a test run (.ci/sanitize).

Every sanitizer error fails. A leak counts when it was allocated by the
module's own code (first frame outside the runtime in the module or in
libstdc++, with a module frame in the stack); Python objects that the
interpreter never frees at exit and leaks of the compilers that some tests run
are not the module's.

    python3 .ci/sanitizer_logs.py LOG_DIR
"""
import pathlib
import re
import sys

MODULE = re.compile(r"\[[^]]*/trendfit\.[^]/]*\.so\]")
RUNTIME = re.compile(r"\[[^]]*lib(asan|ubsan)\.so[^]]*\]")
FAILURE = re.compile(r"ERROR: AddressSanitizer|AddressSanitizer: CHECK failed|runtime error:|"
                     r"ERROR: UndefinedBehaviorSanitizer")
LEAK_START = re.compile(r"\n(?=(?:Direct|Indirect) leak of )")


def allocated_by_module(block):
    frames = [line for line in block.splitlines() if re.match(r"\s+#\d+ ", line)]
    first = next((f for f in frames if not RUNTIME.search(f)), "")
    return bool((MODULE.search(first) or "libstdc++" in first) and any(MODULE.search(f) for f in frames))


def judge(logs):
    """Returns the sanitizer errors, the module's own leaks and the count of other leaks."""
    errors, module_leaks, other_leaks = [], [], 0
    for log in sorted(logs.iterdir()):
        text = log.read_text(errors="replace")
        if FAILURE.search(text):
            errors.append(f"{log.name}:\n{text}")
            continue
        for block in LEAK_START.split(text)[1:]:
            if allocated_by_module(block):
                module_leaks.append(f"{log.name}:\n{block}")
            else:
                other_leaks += 1
    return errors, module_leaks, other_leaks


def main(logs):
    errors, module_leaks, other_leaks = judge(logs)
    for report in errors + module_leaks:
        print(report[:20000], file=sys.stderr)
    print(f"sanitize: {len(list(logs.iterdir()))} process logs, {len(errors)} sanitizer errors, "
          f"{len(module_leaks)} leaks of the module's own allocations, "
          f"{other_leaks} leaks of the interpreter, NumPy or compilers ignored")
    return 1 if errors or module_leaks else 0


if __name__ == "__main__":
    sys.exit(main(pathlib.Path(sys.argv[1])))
