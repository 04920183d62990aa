"""Hostile input that once crashed or corrupted an instance, huge inputs, iteration
that fails midway, and report write failures. Anything that could crash runs in a
child process, so that a crash fails one test instead of the run."""

import errno
import pickle
import re
import subprocess
import sys

import numpy as np
import pytest

from helpers import STATISTICS, address_sanitizer_loaded, run_child, snapshot
from trendfit import LinearRegression

METHOD_ARGS = {**{name: () for name in STATISTICS}, "predict_single": (2.0,), "predict": ([1.0, 2.0],), "summary": ()}


needs_failing_operator_new = pytest.mark.skipif(
    address_sanitizer_loaded(), reason="AddressSanitizer aborts on a failed operator new instead of throwing")


def assert_child_ok(result):
    assert result.returncode == 0, result.stderr.decode()
    return result.stdout.decode().splitlines()


# ---------------------------------------------------------------------------
# An object that only claims to be a LinearRegression, through __class__, used as self

IMPOSTORS = {
    "mock modelled on the class": "unittest.mock.Mock(spec=LinearRegression)",
    "__class__ class attribute": "type('Claims', (), {'__class__': LinearRegression})()",
    "__class__ property": "type('Claims', (), {'__class__': property(lambda self: LinearRegression)})()",
}


@pytest.mark.parametrize("impostor", IMPOSTORS.values(), ids=IMPOSTORS.keys())
def test_self_that_only_claims_the_class_is_rejected(impostor):
    result = run_child(f"""
        import unittest.mock
        from trendfit import LinearRegression
        impostor = {impostor}
        assert isinstance(impostor, LinearRegression)  # what makes it dangerous
        for name, args in {METHOD_ARGS!r}.items():
            try:
                getattr(LinearRegression, name)(impostor, *args)
            except TypeError as error:
                print(str(error).splitlines()[0])
            else:
                print(name, "accepted an impostor")
    """)
    assert assert_child_ok(result) == [f"{name}(): incompatible function arguments. The following argument types "
                                       "are supported:" for name in METHOD_ARGS]


# ---------------------------------------------------------------------------
# Pickling at any protocol, copying, and imports in a subinterpreter (before or after the main
# interpreter's): refused with an exception, never an abort or a hang, and the module keeps working

PICKLING = [f"pickle.dumps(fit(), {p})" for p in range(pickle.HIGHEST_PROTOCOL + 1)] + [
    f"fit().__reduce_ex__({p})" for p in (-1, 0, 1, 2, 5)] + [
    "copy.copy(fit())", "copy.deepcopy(fit())", "fit().__reduce__()", "copyreg._reduce_ex(fit(), 1)"]
SUBINTERPRETER_IMPORTS = [first + run for first in ("", "fit(); ") for run in (
    "_testcapi.run_in_subinterp(CODE)", "_xxsubinterpreters.run_string(_xxsubinterpreters.create(), CODE)")]
REFUSALS = {**dict.fromkeys(PICKLING, "cannot pickle 'trendfit.LinearRegression' object"),
            "pickle.dumps(type('Sub', (type(fit()),), {})([1.0], [2.0]), 0)": "cannot pickle 'Sub' object",
            **dict.fromkeys(SUBINTERPRETER_IMPORTS, "trendfit cannot be imported in a subinterpreter; "
                                                    "import it in the main interpreter")}


@pytest.mark.parametrize("call, message", REFUSALS.items(), ids=REFUSALS.keys())
def test_pickling_and_subinterpreter_imports_are_refused_without_abort_or_hang(call, message):
    result = run_child(f"""
        import copy, copyreg, pickle, _testcapi, _xxsubinterpreters
        from helpers import snapshot
        CODE = "import os\\ntry:\\n import trendfit\\nexcept ImportError as e:\\n os.write(1, str(e).encode())"
        def fit():
            from trendfit import LinearRegression
            return LinearRegression([1.0, 2.0, 4.0], [3.0, 5.0, 6.0])
        try:
            {call}
        except TypeError as error:
            print(error, end="")
        print()
        print(snapshot(fit()))
    """, timeout=60)
    assert assert_child_ok(result) == [message, repr(snapshot(LinearRegression([1.0, 2.0, 4.0], [3.0, 5.0, 6.0])))]


# ---------------------------------------------------------------------------
# __init__ re-entered while its own arguments are being converted

@pytest.mark.parametrize("route", ["blank instance", "subclass"])
def test_init_reentered_during_conversion_keeps_the_first_model(route):
    # Converting an object array calls each element's __float__, which can run
    # anything, including __init__ of the very instance being initialised.
    result = run_child(f"""
        import gc, sys, weakref
        import numpy as np
        from helpers import snapshot
        from trendfit import LinearRegression

        INNER, OUTER_Y = ([1.0, 2.0, 4.0], [5.0, 7.0, 6.0]), [0.5, 0.25, 8.0]
        target = []

        class Reenters:
            def __float__(self):
                LinearRegression.__init__(target[0], *INNER)
                return 3.0

        outer_x = np.array([Reenters(), 4.0, 9.0], dtype=object)

        class Sub(LinearRegression):
            def __init__(self):
                target.append(self)
                super().__init__(outer_x, OUTER_Y)

        if {route!r} == "subclass":
            fit = Sub()
        else:
            fit = LinearRegression.__new__(LinearRegression)
            target.append(fit)
            assert fit.__init__(outer_x, OUTER_Y) is None
        assert snapshot(fit) == snapshot(LinearRegression(*INNER)), "the instance changed after construction"
        gone = weakref.ref(fit)
        del fit, target[:]
        gc.collect()
        assert gone() is None
        print("destroyed")
    """)
    assert assert_child_ok(result) == ["destroyed"]


# ---------------------------------------------------------------------------
# Huge inputs: refused with MemoryError or ValueError, and the process carries on

def check_huge_call_in_child(setup, call, naming=None):
    """`naming`: the exception type expected and the claimed length its message must name beside predict."""
    result = run_child(f"""
        import sys
        import numpy as np
        from helpers import snapshot
        from trendfit import LinearRegression

        fit = LinearRegression([1.0, 2.0, 4.0, 5.0], [2.0, 3.0, 7.0, 8.5])
        before = snapshot(fit)
        {setup}
        try:
            {call}
        except (MemoryError, ValueError) as error:
            print(type(error).__name__)
            print(error)
        else:
            print("no error")
        assert snapshot(fit) == before
        again = LinearRegression([1.0, 2.0, 4.0, 5.0], [2.0, 3.0, 7.0, 8.5])
        assert snapshot(again) == before
        print("carried on")
    """)
    error, *message, carried_on = assert_child_ok(result)
    assert carried_on == "carried on" and error in ("MemoryError", "ValueError")
    if naming:
        assert error == naming[0] and "predict()" in message[0] and re.search(rf"\b{naming[1]}\b", message[0])


@needs_failing_operator_new
@pytest.mark.parametrize("shape", [(2**40,), (2**20, 2**20), (2**10, 2**10, 2**10, 2**10)], ids=str)
def test_huge_broadcast_arrays_are_refused(shape):
    # 8 TiB of logical float64 each, backed by a single real element.
    check_huge_call_in_child(f"huge = np.broadcast_to(0.0, {shape!r})", "LinearRegression(huge, huge)")


CLAIMS_LENGTH = """
class ClaimsLength:
    def __len__(self):
        return {length}
    def __getitem__(self, index):
        if index >= 3:
            raise IndexError(index)
        return float(index)
"""


@pytest.mark.parametrize(
    "length, argument, naming",
    [pytest.param(2**34, "ClaimsLength()", ("MemoryError", 2**34), marks=needs_failing_operator_new),
     pytest.param(2**40, "ClaimsLength()", ("MemoryError", 2**40), marks=needs_failing_operator_new),
     (2**60, "ClaimsLength()", ("ValueError", 2**60)), (2**61, "ClaimsLength()", ("ValueError", 2**61)),
     (2**62, "ClaimsLength()", ("ValueError", 2**62)), (sys.maxsize, "ClaimsLength()", ("ValueError", sys.maxsize)),
     (2**61, "range(2**61)", ("ValueError", 2**61))],
    ids=["2**34", "2**40", "2**60", "2**61", "2**62", "sys.maxsize", "range(2**61)"],
)
def test_predict_of_a_sequence_claiming_an_enormous_length_is_refused(length, argument, naming):
    check_huge_call_in_child(CLAIMS_LENGTH.format(length=length).replace("\n", "\n        "),
                             f"fit.predict({argument})", naming)


@needs_failing_operator_new
def test_predict_of_a_huge_broadcast_array_is_refused():
    check_huge_call_in_child("huge = np.broadcast_to(0.0, (2**40,))", "fit.predict(huge)", ("MemoryError", 2**40))


def test_huge_array_against_a_small_one_is_a_length_error_without_allocating():
    with pytest.raises(RuntimeError, match="^x and y must have the same length$"):
        LinearRegression(np.broadcast_to(0.0, (2**40,)), [1.0, 2.0])


# ---------------------------------------------------------------------------
# Interrupts, exits and MemoryError raised while an argument converts reach the
# caller as themselves, not as "incompatible function arguments"

CONVERSIONS = {
    "__init__: NumPy calls __float__": "LinearRegression([1.0, Raises()], [1.0, 2.0])",
    "__init__: __array__": "LinearRegression([1.0, 2.0], Raises())",
    "predict_single: __float__": "fit.predict_single(Raises())",
    "predict_single: __index__": "fit.predict_single(RaisesInIndex())",
    "predict: generator": "fit.predict(raises_midway())",
    "predict: __float__ of an item": "fit.predict([1.0, Raises()])",
    "predict: __index__ of an item": "fit.predict((1.0, RaisesInIndex()))",
}


@pytest.mark.parametrize("error", ["KeyboardInterrupt()", "SystemExit(3)", "MemoryError('spent')"])
@pytest.mark.parametrize("call", CONVERSIONS.values(), ids=CONVERSIONS.keys())
def test_interrupts_raised_during_conversion_propagate_unchanged(call, error):
    result = run_child(f"""
        from helpers import snapshot
        from trendfit import LinearRegression

        ERROR = {error}

        def fail(*args, **kwargs):
            raise ERROR

        Raises = type("Raises", (), {{"__float__": fail, "__array__": fail}})
        RaisesInIndex = type("RaisesInIndex", (), {{"__index__": fail}})
        raises_midway = lambda: (fail() if value else value for value in (0.0, 1.0))

        fit = LinearRegression([1.0, 2.0, 4.0], [1.0, 3.0, 2.0])
        before = snapshot(fit)
        try:
            {call}
        except BaseException as caught:
            assert caught is ERROR, repr(caught)
        assert snapshot(fit) == before
        print("propagated")
    """)
    assert assert_child_ok(result) == ["propagated"]


# ---------------------------------------------------------------------------
# Iteration that fails midway

class Boom(Exception):
    pass


def raising_generator():
    yield 1.0
    yield 2.0
    raise Boom("generator failed midway")


class RaisingSequence:
    def __len__(self):
        return 5

    def __getitem__(self, index):
        if index == 2:
            raise Boom("item 2 failed")
        return float(index)


class RaisingIterator:
    def __init__(self):
        self.count = 0

    def __iter__(self):
        return self

    def __next__(self):
        self.count += 1
        if self.count > 2:
            raise Boom("next failed")
        return 1.0


class RaisingLength(RaisingSequence):
    def __len__(self):
        raise Boom("len failed")


FAILING_ITERABLES = {
    "generator": raising_generator,
    "sequence": RaisingSequence,
    "map over a sequence": lambda: map(float, RaisingSequence()),
    "zip over a generator": lambda: zip(raising_generator(), [1.0, 2.0, 3.0]),
    "length": RaisingLength,
}


@pytest.fixture
def fit():
    return LinearRegression([1.0, 2.0, 4.0, 5.0], [2.0, 3.0, 7.0, 8.5])


@pytest.mark.parametrize("make", FAILING_ITERABLES.values(), ids=FAILING_ITERABLES.keys())
def test_predict_of_failing_iteration_raises_and_leaves_the_fit_unchanged(fit, make):
    before = snapshot(fit)
    with pytest.raises((Boom, TypeError)) as raised:
        fit.predict(make())
    if raised.type is TypeError:
        assert str(raised.value).startswith("predict(): incompatible function arguments")
    assert snapshot(fit) == before


@pytest.mark.parametrize("make", FAILING_ITERABLES.values(), ids=FAILING_ITERABLES.keys())
@pytest.mark.parametrize("position", ["x", "y"])
def test_construction_from_failing_iteration_raises_and_builds_nothing(make, position):
    blank = LinearRegression.__new__(LinearRegression)
    args = (make(), [1.0, 2.0, 3.0]) if position == "x" else ([1.0, 2.0, 3.0], make())
    with pytest.raises((Boom, TypeError)):
        blank.__init__(*args)
    with pytest.raises(TypeError, match="never initialised"):
        blank.mean_x()


@pytest.mark.parametrize("make", FAILING_ITERABLES.values(), ids=FAILING_ITERABLES.keys())
def test_reinitialising_with_failing_iteration_changes_nothing(fit, make):
    before = snapshot(fit)
    assert fit.__init__(make(), make()) is None
    assert snapshot(fit) == before


# ---------------------------------------------------------------------------
# Report write failures: OSError each time, and the stream recovers each time

FAILING_OUTPUTS = {
    "full disk": (errno.ENOSPC, "os.open('/dev/full', os.O_WRONLY)"),
    "broken pipe": (errno.EPIPE, "broken_pipe()"),
    "read-only descriptor": (errno.EBADF, "os.open('/dev/null', os.O_RDONLY)"),
    "full non-blocking pipe": (errno.EAGAIN, "full_pipe()"),
}


def report_text(x, y):
    result = run_child(f"""
        from trendfit import LinearRegression
        LinearRegression({x!r}, {y!r}).summary()
    """)
    assert result.returncode == 0, result.stderr.decode()
    return result.stdout


@pytest.mark.parametrize("expected_errno, open_failing", FAILING_OUTPUTS.values(), ids=FAILING_OUTPUTS.keys())
def test_report_write_failures_raise_os_error_and_the_stream_recovers_every_time(tmp_path, monkeypatch,
                                                                                 expected_errno, open_failing):
    monkeypatch.delenv("PYTHONUNBUFFERED", raising=False)  # C stdio buffered, as users have it
    data = ([1.0, 2.0, 4.0, 5.0], [2.0, 3.0, 7.0, 8.5])
    result = run_child(f"""
        import ctypes, os
        from trendfit import LinearRegression
        libc = ctypes.CDLL(None)

        def broken_pipe():
            read_end, write_end = os.pipe()
            os.close(read_end)
            return write_end

        def full_pipe():
            read_end, write_end = os.pipe()
            os.set_blocking(write_end, False)
            try:
                while True:
                    os.write(write_end, bytes(4096))
            except BlockingIOError:
                return write_end

        fit = LinearRegression(*{data!r})
        for cycle in range(3):
            os.dup2({open_failing}, 1)
            for attempt in range(1000):
                try:
                    fit.summary()
                except OSError as error:
                    assert error.errno == {expected_errno}, error
                    assert type(error) is type(OSError({expected_errno}, "")), error  # as os.write raises it
                    break
            else:
                raise SystemExit("no write failure was reported")
            os.dup2(os.open(os.path.join({str(tmp_path)!r}, f"after{{cycle}}.txt"),
                            os.O_WRONLY | os.O_CREAT | os.O_TRUNC), 1)
            fit.summary()
            libc.fflush(None)
    """, stdout=subprocess.DEVNULL)
    assert result.returncode == 0, result.stderr.decode()
    expected = report_text(*data)
    assert [(tmp_path / f"after{cycle}.txt").read_bytes() for cycle in range(3)] == [expected] * 3
