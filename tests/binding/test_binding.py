"""The Python face of the module: members, signatures, argument conversion and errors."""

import array as pyarray
import ctypes
import decimal
import fractions
import gc
import glob
import os
import pathlib
import pickle
import re
import shutil
import struct
import subprocess
import sys

import numpy as np
import pytest
from hypothesis import given, settings
from hypothesis import strategies as st
from hypothesis.extra import numpy as hnp

import trendfit
from helpers import (FAILING_ITERABLES, METHOD_ARGS, OTHER_METHOD_ARGS, STATISTICS, Boom, address_sanitizer_loaded,
                     bits, copy_into, installed_editable, public_methods, raw_bits, run_script, snapshot, succeeded)
from trendfit import LinearRegression

MEMBERS = [
    "_pybind11_conduit_v1_", "__init__", "mean_x", "mean_y", "pearson_correlation", "std_x", "std_y",
    "slope", "intercept", "predict_single", "predict", "rmse", "mae", "r_squared", "residual_std_error",
    "slope_standard_error", "t_value_slope", "summary", "__reduce__", "__reduce_ex__",
]


def test_module_and_class_surface():
    assert trendfit.__doc__ == "Linear Regression with NumPy support"
    assert LinearRegression.__doc__ is None
    assert LinearRegression.__module__ == "trendfit"
    assert {name for name in vars(trendfit) if not name.startswith("__")} == {"LinearRegression"}
    assert "__init__" in vars(LinearRegression)
    own = [name for name in vars(LinearRegression) if name not in ("__doc__", "__module__", "__init__")]
    assert own == [name for name in MEMBERS if name != "__init__"]
    # Every public method is a statistic (as the stubs declare it) or one the tests know as another kind.
    assert public_methods() == sorted(STATISTICS + tuple(OTHER_METHOD_ARGS))
    assert list(vars(LinearRegression)) == ["__init__", "__doc__", "__module__"] + own


@pytest.mark.signatures
@pytest.mark.parametrize(
    "name, signature",
    [
        ("__init__", "__init__(self: trendfit.LinearRegression, "
                     "arg0: typing.Annotated[numpy.typing.ArrayLike, numpy.float64], "
                     "arg1: typing.Annotated[numpy.typing.ArrayLike, numpy.float64]) -> None"),
        ("predict_single", "predict_single(self: trendfit.LinearRegression, arg0: typing.SupportsFloat) -> float"),
        ("predict", "predict(self: trendfit.LinearRegression, "
                    "arg0: collections.abc.Sequence[typing.SupportsFloat]) -> list[float]"),
        ("summary", "summary(self: trendfit.LinearRegression) -> None"),
        ("__reduce__", "__reduce__(self: trendfit.LinearRegression) -> object"),
        ("__reduce_ex__", "__reduce_ex__(self: trendfit.LinearRegression, arg0: typing.SupportsInt) -> object"),
    ] + [(name, f"{name}(self: trendfit.LinearRegression) -> float") for name in STATISTICS],
)
def test_signatures(name, signature):
    assert getattr(LinearRegression, name).__doc__ == signature + "\n"


class Floaty:
    def __float__(self):
        return 2.0


class Indexy:
    def __index__(self):
        return 2


@pytest.mark.parametrize(
    "value", [2, True, np.float32(2.0), np.int64(2), Floaty(), Indexy(), fractions.Fraction(2), decimal.Decimal(2)]
)
def test_predict_single_converts_numbers(fit, value):
    assert bits(fit.predict_single(value)) == bits(fit.predict_single(float(value)))


@pytest.mark.parametrize(
    "make",
    [tuple, list, set, frozenset, np.array, lambda v: (t for t in v), lambda v: dict.fromkeys(v).keys(),
     lambda v: map(float, v), lambda v: range(len(v))],
    ids=["tuple", "list", "set", "frozenset", "ndarray", "generator", "dict keys", "map", "range"],
)
def test_predict_accepts_sequences_and_iterables(fit, make):
    values = [3.0, 1.0, 6.0]
    got = fit.predict(make(values))
    assert isinstance(got, list)
    assert [bits(v) for v in got] == [bits(fit.predict_single(v)) for v in make(values)]


BAD_VALUES = ["2", None, b"x", 10**400, {"a": 1.0}, [1.0, "a"], [1.0] * 600 + ["a"], object(), 1j,
              memoryview(bytes(80)).cast("d", (2, 5))]


@pytest.mark.parametrize("value", BAD_VALUES, ids=lambda value: repr(value)[:30])
@pytest.mark.parametrize("method", ["predict_single", "predict"])
def test_unconvertible_arguments(fit, method, value):
    with pytest.raises(TypeError, match=rf"^{method}\(\): incompatible function arguments"):
        getattr(fit, method)(value)


@pytest.mark.parametrize(
    "call",
    [
        lambda f: f.mean_x(1),
        lambda f: f.predict_single(),
        lambda f: f.predict_single(value=2.0),
        lambda f: LinearRegression.mean_x(5),
        lambda f: LinearRegression(x=[1.0], y=[1.0]),
        lambda f: LinearRegression([1.0], [1.0], [1.0]),
    ],
)
def test_wrong_calls_raise_type_error(fit, call):
    with pytest.raises(TypeError, match="incompatible (function|constructor) arguments"):
        call(fit)


def test_init_needs_an_instance():
    with pytest.raises(TypeError, match=r"called with invalid or missing `self` argument"):
        LinearRegression.__init__(None, [1.0], [1.0])


def test_no_instance_attributes(fit):
    with pytest.raises(AttributeError):
        fit.foo = 1


def test_subclasses():
    class Good(LinearRegression):
        def __init__(self, x, y):
            super().__init__(x, y)

    class Forgetful(LinearRegression):
        def __init__(self, x, y):
            pass

    assert Good([1.0, 2.0], [3.0, 5.0]).slope() == 2.0
    must_call_init = r"^trendfit\.LinearRegression\.__init__\(\) must be called when overriding __init__$"
    with pytest.raises(TypeError, match=must_call_init):
        Forgetful([1.0], [1.0])


@pytest.mark.skipif(shutil.which("nm") is None, reason="needs nm")
def test_the_module_exports_its_entry_point_alone():
    # Any other exported symbol could be bound to another copy of it loaded in the process.
    listed = subprocess.run(["nm", "-D", "--defined-only", "--format=just-symbols", trendfit.__file__],
                            capture_output=True, text=True, check=True).stdout
    assert listed.split() == ["PyInit_trendfit"]


def test_import_is_light_and_idempotent():
    succeeded(run_script("binding/import_twice"))


# Every other CPython 3 under pyenv, loading the module with lazy binding (so that the dynamic
# loader does not refuse the file first), gets the version-mismatch ImportError instead of dying.
OTHER_CPYTHONS = sorted(
    path for path in glob.glob(os.path.expanduser("~/.pyenv/versions/3.*/bin/python3"))
    if not os.path.basename(os.path.dirname(os.path.dirname(path))).startswith("{}.{}.".format(*sys.version_info)))


@pytest.mark.parametrize("python", OTHER_CPYTHONS or [
    pytest.param(None, marks=pytest.mark.skip(reason="no other CPython 3 under ~/.pyenv/versions"))])
def test_other_cpythons_refuse_the_module_with_import_error(python, tmp_path):
    shutil.copy(trendfit.__file__, tmp_path / "trendfit.so")
    copy_into(tmp_path, pathlib.Path(__file__).with_name("import_message.py"))
    done = subprocess.run([python, "import_message.py"], cwd=tmp_path, capture_output=True, text=True, timeout=60)
    compiled_for = "{}.{}".format(*sys.version_info)
    assert succeeded(done).startswith(f"Python version mismatch: module was compiled for Python {compiled_for}, ")


# Every kind of wrong `self`: a blank instance, None, and objects that only claim the class
# through __class__, which isinstance() believes: WRONG_SELVES of wrong_self.py.
@pytest.mark.parametrize("kind", ["blank instance", "None", "mock modelled on the class", "__class__ class attribute",
                                  "__class__ property"])
def test_every_method_refuses_a_wrong_self_instead_of_crashing(kind):
    result = run_script("binding/wrong_self", kind)
    expected = [f"{name}(): incompatible function arguments. The following argument types are supported:"
                for name in METHOD_ARGS]
    if kind == "blank instance":
        expected = ["this LinearRegression was never initialised: create it as LinearRegression(x, y)"] * len(expected)
    assert succeeded(result).decode().splitlines() == expected


# ---------------------------------------------------------------------------
# Pickling at any protocol, copying, and imports in a subinterpreter (legacy or isolated, before or after the
# main interpreter's): refused with an exception, never an abort or a hang, and the module keeps working

PICKLING = [("pickle.dumps", p) for p in range(pickle.HIGHEST_PROTOCOL + 1)] + [
    ("__reduce_ex__", p) for p in (-1, 0, 1, 2, 5)] + [
    ("copy.copy",), ("copy.deepcopy",), ("__reduce__",), ("object.__reduce_ex__",),
    ("copy.copy of an instance whose __init__ never ran",)]
OUR_REFUSAL = "trendfit cannot be imported in a subinterpreter; import it in the main interpreter"
# An isolated subinterpreter may meet CPython's own refusal first, from the module's declaration.
CPYTHONS_REFUSAL = "module trendfit does not support loading in subinterpreters"
SUBINTERPRETER_IMPORTS = {
    **{(first + "import in a legacy subinterpreter",): (OUR_REFUSAL,) for first in ("", "fit, then ")},
    **{(first + "import in an isolated subinterpreter",): (OUR_REFUSAL, CPYTHONS_REFUSAL)
       for first in ("", "fit, then ")},
}
# The calls of refusal.py, with their arguments.
REFUSALS = {**dict.fromkeys(PICKLING, ("cannot pickle 'trendfit.LinearRegression' object",)),
            ("pickle.dumps of a subclass",): ("cannot pickle 'Sub' object",),
            **SUBINTERPRETER_IMPORTS}
# An editable install's import starts a process to check its build, which an isolated subinterpreter cannot.
NEEDS_A_PLAIN_INSTALL = pytest.mark.skipif(
    installed_editable(), reason="an editable install's import starts its build check's process, which an isolated "
                                 "subinterpreter cannot")


@pytest.mark.parametrize("call, messages", [
    pytest.param(call, messages, id=" ".join(map(str, call)),
                 marks=[NEEDS_A_PLAIN_INSTALL] if "isolated" in call[0] else []) for call, messages in REFUSALS.items()
])
def test_pickling_and_subinterpreter_imports_are_refused_without_abort_or_hang(call, messages):
    result = run_script("binding/refusal", *call, timeout=60)
    refusal, state = succeeded(result).decode().splitlines()
    assert refusal in messages
    assert state == repr(snapshot(LinearRegression([1.0, 2.0, 4.0], [3.0, 5.0, 6.0])))


# The calls of other_module.py, with their arguments.
OTHER_MODULE_CALLS = [("construction",), *[("pickling at protocol", p) for p in range(pickle.HIGHEST_PROTOCOL + 1)],
                      ("copy",)]


@pytest.mark.slow
@pytest.mark.tooling
@pytest.mark.parametrize("call", OTHER_MODULE_CALLS, ids=lambda call: " ".join(map(str, call)))
def test_another_pybind11_module_behaves_the_same_with_trendfit_loaded(cmake_build, call):
    def outcome(first):  # other, a second pybind11 module whose class pickles through pybind11's own support
        result = run_script("binding/other_module", cmake_build("tests", "other") / "other", first, *call, timeout=60)
        return result.returncode, result.stdout

    alone = outcome("alone")
    assert outcome("after-trendfit") == alone
    if call not in (("pickling at protocol", 0), ("pickling at protocol", 1)):
        assert alone == (0, b"7\n")


# ---------------------------------------------------------------------------
# Huge inputs: refused with MemoryError or ValueError, and the process carries on

needs_failing_operator_new = pytest.mark.skipif(
    address_sanitizer_loaded(), reason="AddressSanitizer aborts on a failed operator new instead of throwing")


@pytest.mark.parametrize("call, arguments, naming", [  # CALLS of huge_input.py, and their arguments
    # 8 TiB of logical float64 each, backed by a single real element.
    # `naming`: the exception type expected, and the call and the length its message must name.
    *[pytest.param("construction", shape, ("MemoryError", "LinearRegression()", 2**40),
                   marks=needs_failing_operator_new, id=f"construction from {shape}")
      for shape in [(2**40,), (2**20, 2**20), (2**10, 2**10, 2**10, 2**10)]],
    pytest.param("predict of a broadcast array", (2**40,), ("MemoryError", "predict()", 2**40),
                 marks=needs_failing_operator_new, id="predict of a broadcast array"),
    *[pytest.param("predict of a sequence claiming", (length,), ("MemoryError", "predict()", length),
                   marks=needs_failing_operator_new, id=f"predict of a sequence claiming {length}")
      for length in (2**34, 2**40)],
    *[pytest.param("predict of a sequence claiming", (length,), ("ValueError", "predict()", length),
                   id=f"predict of a sequence claiming {length}") for length in (2**60, 2**61, 2**62, sys.maxsize)],
    pytest.param("predict of range", (2**61,), ("ValueError", "predict()", 2**61), id="predict of range(2**61)"),
])
def test_huge_inputs_are_refused_and_the_process_carries_on(call, arguments, naming):
    result = run_script("binding/huge_input", call, *arguments)
    error, *message, carried_on = succeeded(result).decode().splitlines()
    assert carried_on == "carried on" and error in ("MemoryError", "ValueError")
    assert error == naming[0] and naming[1] in message[0] and re.search(rf"\b{naming[2]}\b", message[0])


# ---------------------------------------------------------------------------
# Interrupts, exits and MemoryError raised while an argument converts reach the
# caller as themselves, not as "incompatible function arguments"

@pytest.mark.parametrize("error", ["KeyboardInterrupt", "SystemExit", "MemoryError"])
@pytest.mark.parametrize("call", [  # CALLS of conversion_interrupt.py
    "__init__: NumPy calls __float__", "__init__: __array__", "predict_single: __float__", "predict_single: __index__",
    "predict: generator", "predict: __float__ of an item", "predict: __index__ of an item"])
def test_interrupts_raised_during_conversion_propagate_unchanged(call, error):
    result = run_script("binding/conversion_interrupt", error, call)
    assert succeeded(result).decode().splitlines() == ["propagated"]


@pytest.mark.parametrize("make", FAILING_ITERABLES.values(), ids=FAILING_ITERABLES.keys())
def test_predict_of_failing_iteration_raises_and_leaves_the_fit_unchanged(fit, make):
    before = snapshot(fit)
    with pytest.raises((Boom, TypeError)) as raised:
        fit.predict(make())
    if raised.type is TypeError:
        assert str(raised.value).startswith("predict(): incompatible function arguments")
    assert snapshot(fit) == before


# ---------------------------------------------------------------------------
# predict reads arrays of native doubles directly, anything else element by element
# (floats directly, other numbers by the float rule): both must give the same outcome.

class GeneralArray(np.ndarray):
    """An array subclass, whose items could differ from its buffer: predict takes the general path."""


class CallsItselfArray(pyarray.array):
    """An array.array subclass, by the same type name, whose items are not its buffer's elements."""

    def __getitem__(self, index):
        return 2.0 * super().__getitem__(index)

    def __iter__(self):
        return (self[i] for i in range(len(self)))


CallsItselfArray.__name__ = "array.array"


def test_predict_reads_the_items_of_a_lookalike_of_a_buffer_type(fit):
    lookalike = CallsItselfArray("d", [1.0, 2.5])
    assert [bits(v) for v in fit.predict(lookalike)] == [bits(fit.predict_single(v)) for v in (2.0, 5.0)]


SHARED_FIT = LinearRegression([1.0, 2.0, 4.0, 7.0], [1.0, 3.0, 2.0, 9.5])
any_floats = st.one_of(st.floats(), st.just(-0.0), st.builds(
    lambda sign, payload: struct.unpack("<d", struct.pack("<Q", sign << 63 | 0x7FF << 52 | payload))[0],
    st.integers(0, 1), st.integers(1, 2**52 - 1)))  # NaNs with every sign and payload, signalling ones too
items = st.one_of(any_floats, any_floats.map(type("FloatSubclass", (float,), {})), any_floats.map(np.float64))


def outcome(call):
    try:
        return [raw_bits(v) for v in call()]
    except Exception as error:
        return type(error), str(error).partition("\n")[0]


@settings(max_examples=300, deadline=None)
@given(st.lists(items, max_size=20))
def test_fast_and_general_paths_agree_on_floats(values):
    fit, array = SHARED_FIT, np.array(values, dtype=np.float64)
    expected = [raw_bits(fit.predict_single(v)) for v in values]
    in_explicit_order = (ctypes.c_double * len(values))(*values)  # format "<d" or ">d", the byte order named
    for form in (values, tuple(values), (v for v in values), array, np.repeat(array, 2)[::2], memoryview(array),
                 pyarray.array("d", values), array.view(GeneralArray), memoryview(in_explicit_order)):
        assert outcome(lambda form=form: fit.predict(form)) == expected
    assert outcome(lambda: fit.predict(array[::-1])) == expected[::-1]
    longer = values * 40 + [7]  # floats read directly, then an int by the float rule
    assert outcome(lambda: fit.predict(longer)) == outcome(lambda: fit.predict(v for v in longer))


@settings(max_examples=200, deadline=None)
@given(hnp.arrays(np.float64, hnp.array_shapes(min_dims=0, max_dims=2, min_side=0, max_side=4), elements=any_floats),
       st.sampled_from([np.float64, ">f8", np.float32, object]))
def test_fast_and_general_paths_agree_on_arrays_of_any_shape_and_type(array, dtype):
    with np.errstate(all="ignore"):
        array = array.astype(dtype)
    assert outcome(lambda: SHARED_FIT.predict(array)) == outcome(lambda: SHARED_FIT.predict(array.view(GeneralArray)))


class ChangesTheList:
    """As its __float__ is called, or when the collector finalises it, replaces part of the list being read."""

    def __init__(self, target, start, replacement):
        self.target, self.start, self.replacement = target, start, replacement

    def __float__(self):
        self.target[self.start:] = self.replacement
        return 0.5

    __del__ = __float__


@settings(max_examples=200, deadline=None)
@given(st.lists(any_floats, max_size=8), st.integers(0, 8), st.lists(any_floats | st.integers(-9, 9), max_size=4))
def test_a_list_changed_while_it_is_read_gives_what_reading_it_live_gives(values, start, replacement):
    def changing():
        target = list(values)
        target.insert(start, ChangesTheList(target, start + 1, replacement))
        return target

    live = [raw_bits(SHARED_FIT.predict_single(float(item))) for item in changing()]
    assert outcome(lambda: SHARED_FIT.predict(changing())) == live

    # A finaliser that the collector may run during the call: the list is read wholly before or after it.
    before, cycle = list(values), ChangesTheList(values, 0, replacement)
    cycle.cycle = cycle
    del cycle
    threshold = gc.get_threshold()
    gc.set_threshold(1)
    try:
        got = outcome(lambda: SHARED_FIT.predict(values))
    finally:
        gc.set_threshold(*threshold)
    assert got in (outcome(lambda: SHARED_FIT.predict(before)), outcome(lambda: SHARED_FIT.predict(values)))
