"""Hostile input, fuzzed: Hypothesis throws arbitrary Python objects at the
constructor and at every method, as arguments and as `self`.

Every call must give the correct result or exactly the exception that the
conversion rules call for (worked out here by the same CPython and NumPy
routines the binding uses), and must leave the instance as it was.

    fuzz.py EXAMPLES COUNT_PATH LAST_EXAMPLE_PATH

runs EXAMPLES hostile calls, naming the call in progress in LAST_EXAMPLE_PATH
(so that a crash can be told apart), and writes the number of calls made to
COUNT_PATH. Fails, by an exception, at the first call that goes wrong.
"""

import ctypes
import decimal
import fractions
import os
import pathlib
import sys
import types
import unittest.mock
import warnings

import numpy as np
from hypothesis import HealthCheck, given, settings
from hypothesis import strategies as st
from hypothesis.extra import numpy as hnp

from helpers import (METHOD_ARGS, Boom, ClaimsLength, Hostile, LengthRaises, NextRaises, bits, describe,
                     raising_generator, snapshot)
from trendfit import LinearRegression

ARITY = {name: len(args) for name, args in METHOD_ARGS.items()}


# ---------------------------------------------------------------------------
# Hostile objects

class FloatReturns(Hostile):
    def __float__(self):
        return self.args[0]


class FloatRaises(Hostile):
    def __float__(self):
        raise self.args[0]


class IndexReturns(Hostile):
    def __index__(self):
        return self.args[0]


class IndexRaises(Hostile):
    def __index__(self):
        raise self.args[0]


class IntOnly(Hostile):
    def __int__(self):
        return self.args[0]


class ComplexOnly(Hostile):
    def __complex__(self):
        return self.args[0]


class ReprRaises:
    def __float__(self):
        return 1.5

    def __repr__(self):
        raise Boom("no repr")


class FloatSubclass(float):
    pass


SHARED_FIT = LinearRegression([1.0, 2.0, 4.0], [1.0, 3.0, 2.0])


class Reenters(Hostile):
    """Calls back into the module in the middle of a conversion."""

    def __float__(self):
        LinearRegression([1.0, 2.0], [3.0, self.args[0]]).summary()
        SHARED_FIT.predict([self.args[0], 1.0])
        return self.args[0]


class ClearsList(Hostile):
    """Empties the very list being converted and refills it with junk."""

    def __init__(self, target):
        super().__init__()
        self.target = target

    def __float__(self):
        self.target[:] = ["junk", None]
        return 5.0


class IterRaises(Hostile):
    def __iter__(self):
        raise Boom("iter")

    def __len__(self):
        return 2

    def __getitem__(self, index):
        return 1.0


class ArrayReturns(Hostile):
    def __array__(self, dtype=None, copy=None):
        return self.args[0]


class ArrayRaises(Hostile):
    def __array__(self, dtype=None, copy=None):
        raise Boom("__array__")


# Classes that carry the names of built-in iterables the binding accepts by name.
NAMED_LIKE_BUILTINS = [type(name, (), {}) for name in ("zip", "map", "dict_keys")] + [
    type(name, (), {"__iter__": lambda self: iter([1.0, 2.5])}) for name in ("zip", "map", "dict_values")]


class Recipe:
    """Makes a fresh copy of a drawn argument, so that the call and the expectation
    each get their own: a generator is used up once iterated."""

    def __init__(self, kind, ingredients, make):
        self.kind, self.ingredients, self.make = kind, ingredients, make

    def __call__(self):
        return self.make()

    def __repr__(self):
        return f"{self.kind}({', '.join(describe(v) for v in self.ingredients)})" if self.kind else \
            describe(self.ingredients[0])


def fixed(value):
    return Recipe(None, (value,), lambda: value)


def list_that_clears_itself(items):
    target = list(items)
    target.insert(len(target) // 2, ClearsList(target))
    return target


# ---------------------------------------------------------------------------
# Strategies

all_floats = st.floats(allow_nan=True, allow_infinity=True)
errors = st.sampled_from([Boom("x"), TypeError("x"), ValueError("x"), OverflowError("x"), ArithmeticError("x"),
                          MemoryError(), ZeroDivisionError("x")])
wrong_results = st.sampled_from(["1.5", None, 1, 2**70, 1j, [1.0], FloatSubclass(2.5), np.float64(3.5), True])

dtypes = st.one_of(
    hnp.scalar_dtypes(),
    hnp.floating_dtypes(endianness="?"),
    hnp.integer_dtypes(endianness="?"),
    hnp.unsigned_integer_dtypes(endianness="?"),
    hnp.complex_number_dtypes(endianness="?"),
    hnp.byte_string_dtypes(max_len=4),
    hnp.unicode_string_dtypes(max_len=4),
    hnp.array_dtypes(subtype_strategy=hnp.scalar_dtypes(), max_size=3),
    st.sampled_from([np.dtype(np.longdouble), np.dtype(np.clongdouble), np.dtype("M8[ns]"), np.dtype("m8[D]"),
                     np.dtype([("a", "<f8")]), np.dtype([("a", "<f8"), ("b", "O")])]),
)
shapes = st.one_of(hnp.array_shapes(min_dims=0, max_dims=2, min_side=0, max_side=6),
                   hnp.array_shapes(min_dims=3, max_dims=7, min_side=0, max_side=2))
numpy_scalars = hnp.arrays(dtypes, ()).map(lambda a: a[()])

plain_numbers = st.one_of(
    st.integers(min_value=-2**80, max_value=2**80),
    st.sampled_from([10**400, -10**400, 2**1024, 2**53 + 1]),
    st.booleans(),
    all_floats,
    st.complex_numbers(allow_nan=True, allow_infinity=True),
    st.fractions(),
    st.decimals(allow_nan=True, allow_infinity=True),
    st.sampled_from([decimal.Decimal("sNaN"), decimal.Decimal("-NaN"), fractions.Fraction(10**400, 3)]),
)
number_likes = st.one_of(
    st.builds(FloatReturns, st.one_of(all_floats, wrong_results)),
    st.builds(FloatRaises, errors),
    st.builds(IndexReturns, st.one_of(st.integers(-2**70, 2**70), wrong_results, st.just(10**400))),
    st.builds(IndexRaises, errors),
    st.builds(IntOnly, st.one_of(st.integers(-10, 10), wrong_results)),
    st.builds(ComplexOnly, st.one_of(st.complex_numbers(max_magnitude=10), wrong_results)),
    st.builds(Reenters, st.floats(-10, 10)),
    st.builds(ReprRaises),
)
other_scalars = st.one_of(
    st.text(max_size=4), st.sampled_from(["1.5", " 2 ", "nan", "-inf", "1e400", "0x10"]),
    st.binary(max_size=4),
    st.sampled_from([b"3.25", bytearray(b"1"), memoryview(b"12"), np.void(b"\x00" * 6 + b"\xf0?")]),
    st.none(), st.sampled_from([Ellipsis, NotImplemented, object(), int, float, LinearRegression, print]),
    st.datetimes(), st.timedeltas(), st.dates(),
    st.builds(unittest.mock.Mock, spec=st.just(LinearRegression)), st.builds(unittest.mock.MagicMock),
    st.sampled_from(NAMED_LIKE_BUILTINS).map(lambda cls: cls()),
    st.just(SHARED_FIT),
)
leaves = st.one_of(plain_numbers, plain_numbers, number_likes, other_scalars, numpy_scalars)
nested = st.recursive(
    leaves,
    lambda inner: st.one_of(st.lists(inner, max_size=4), st.lists(inner, max_size=4).map(tuple),
                            st.dictionaries(st.text(max_size=2), inner, max_size=2),
                            st.frozensets(all_floats, max_size=3)),
    max_leaves=12,
)


def transformed(array, how):
    """A view or variant of an array with another layout, flags or type; the array itself if it has none."""
    variants = {
        "reversed": lambda a: a[::-1],
        "strided": lambda a: a[..., ::2],
        "transposed": lambda a: a.T,
        "fortran": np.asfortranarray,
        "read-only": lambda a: np.lib.stride_tricks.as_strided(a, writeable=False),
        "byte-swapped": lambda a: a.astype(a.dtype.newbyteorder()),
        "unaligned": unaligned_copy,
        "broadcast": lambda a: np.broadcast_to(a, (2,) + a.shape),
        "masked": np.ma.masked_array,
        "matrix": np.asmatrix,
        "record": lambda a: a.view(np.recarray),
    }
    try:
        with warnings.catch_warnings():
            warnings.simplefilter("ignore")
            return variants[how](array)
    except Exception:
        return array


def unaligned_copy(array):
    raw = np.zeros(array.nbytes + 1, dtype=np.uint8)
    copy = raw[1:].view(array.dtype).reshape(array.shape)
    copy[...] = array
    return copy


def object_array(items, shape_seed):
    array = np.empty(len(items), dtype=object)
    array[:] = items
    shape = (len(items),) if shape_seed or len(items) % 2 else (2, len(items) // 2)
    return array.reshape(shape)


arrays = st.builds(transformed,
                   st.one_of(hnp.arrays(dtypes, shapes), hnp.arrays(np.float64, shapes),
                             st.builds(object_array, st.lists(leaves, max_size=6), st.booleans())),
                   st.sampled_from(["as is", "reversed", "strided", "transposed", "fortran", "read-only",
                                    "byte-swapped", "unaligned", "broadcast", "masked", "matrix", "record"]))

floats_lists = st.lists(all_floats, max_size=10)
one_shot = st.one_of(
    st.builds(lambda items, fail_at: Recipe("raising_generator", (items, fail_at),
                                            lambda: raising_generator(items, fail_at)),
              st.lists(leaves, max_size=5), st.none() | st.integers(0, 4)),
    st.builds(lambda items, fail_at: Recipe("NextRaises", (items, fail_at), lambda: NextRaises(items, fail_at)),
              st.lists(leaves, max_size=5), st.none() | st.integers(0, 4)),
    st.builds(lambda items: Recipe("map_identity", (items,), lambda: map(lambda v: v, items)), floats_lists),
    st.builds(lambda items: Recipe("zip", (items,), lambda: zip(items)), floats_lists),
    st.builds(lambda items: Recipe("dict_keys", (items,), lambda: dict.fromkeys(items).keys()), floats_lists),
    st.builds(lambda items: Recipe("dict_values", (items,), lambda: dict(enumerate(items)).values()),
              st.lists(leaves, max_size=5)),
    st.builds(lambda items: Recipe("dict_items", (items,), lambda: dict(enumerate(items)).items()), floats_lists),
    st.builds(lambda items: Recipe("list_that_clears_itself", (items,), lambda: list_that_clears_itself(items)),
              floats_lists),
)
reusable = st.one_of(
    floats_lists, floats_lists.map(tuple), st.sets(all_floats, max_size=5), st.frozensets(all_floats, max_size=5),
    st.integers(0, 12).map(range), nested, arrays, arrays,
    st.builds(ClaimsLength, st.integers(0, 10**6), st.lists(leaves, max_size=5), st.none() | st.integers(0, 5)),
    st.builds(LengthRaises, st.just(0), st.lists(all_floats, max_size=3), st.none()),
    st.builds(ClaimsLength, st.sampled_from([-1, "3", 2.0, 2**100]), st.lists(all_floats, max_size=3), st.none()),
    st.builds(IterRaises),
    st.builds(ArrayReturns, st.one_of(arrays, nested)),
    st.builds(ArrayRaises),
).map(fixed)
arguments = st.one_of(reusable, one_shot)


@st.composite
def same_size_pairs(draw):
    size = draw(st.integers(0, 12))
    sized = st.one_of(st.lists(all_floats, min_size=size, max_size=size),
                      hnp.arrays(st.sampled_from([np.float64, np.float32, np.int64, np.int8, np.bool_, np.complex128]),
                                 size),
                      st.builds(object_array, st.lists(leaves, min_size=size, max_size=size), st.just(True)),
                      st.lists(st.one_of(all_floats, number_likes), min_size=size, max_size=size))
    return fixed(draw(sized)), fixed(draw(sized))


impostors = st.one_of(
    st.builds(unittest.mock.Mock, spec=st.just(LinearRegression)),
    st.builds(unittest.mock.MagicMock, spec=st.just(LinearRegression)),
    st.just(type("Claims", (), {"__class__": LinearRegression})()),
    st.just(type("Claims", (), {"__class__": property(lambda self: LinearRegression)})()),
    st.builds(lambda: LinearRegression.__new__(LinearRegression)),
    st.builds(lambda: type("Sub", (LinearRegression,), {})).map(lambda cls: cls.__new__(cls)),
    leaves,
)


# ---------------------------------------------------------------------------
# What the binding must do, worked out with the routines it uses

_api = ctypes.pythonapi
for _name, _result in [("PyFloat_AsDouble", ctypes.c_double), ("PyNumber_Check", ctypes.c_int),
                       ("PyNumber_Float", ctypes.py_object), ("PySequence_Check", ctypes.c_int)]:
    getattr(_api, _name).restype = _result
    getattr(_api, _name).argtypes = [ctypes.py_object]


class Rejected(Exception):
    """The binding turns the argument away with its incompatible-arguments TypeError."""


class Raised(Exception):
    """The argument itself raised while being read: the binding passes that error on."""


LENGTH_MISMATCH = "x and y must have the same length"


def propagates(error):
    """Errors that a conversion passes on as themselves instead of rejecting the argument."""
    return isinstance(error, MemoryError) or not isinstance(error, Exception)


def rejected_unless_it_propagates(error):
    return Raised(error) if propagates(error) else Rejected()


def as_double(value):
    """The double that a `double` parameter receives: PyFloat_AsDouble, then PyNumber_Float for numbers."""
    try:
        return _api.PyFloat_AsDouble(value)
    except Exception as error:
        if propagates(error):
            raise Raised(error) from None
        if not _api.PyNumber_Check(value):
            raise Rejected from None
    try:
        converted = _api.PyNumber_Float(value)
    except Exception as error:
        raise rejected_unless_it_propagates(error) from None
    return _api.PyFloat_AsDouble(converted)


def as_doubles(value):
    """The doubles that a sequence-of-double parameter receives, converted one by one while iterating."""
    if _api.PySequence_Check(value):
        if isinstance(value, (str, bytes)):
            raise Rejected
        source = value
        try:
            len(value)
        except Exception as error:
            raise Raised(error) from None
    elif (isinstance(value, (types.GeneratorType, set, frozenset))
          or (not isinstance(value, type)
              and type(value).__name__ in ("dict_keys", "dict_values", "dict_items", "map", "zip"))):
        try:
            source = tuple(value)
        except Exception as error:
            raise Raised(error) from None
    else:
        raise Rejected
    doubles, iterator = [], None
    while True:
        try:
            iterator = iterator or iter(source)
            item = next(iterator)
        except StopIteration:
            return doubles
        except Exception as error:
            raise Raised(error) from None
        doubles.append(as_double(item))


def expected_samples(x, y):
    """The two sample sequences that construction stores, LENGTH_MISMATCH, or Rejected."""
    try:
        xs = np.asarray(x(), dtype=np.float64)
        ys = np.asarray(y(), dtype=np.float64)
    except Exception as error:
        raise rejected_unless_it_propagates(error) from None
    if xs.size != ys.size:
        return LENGTH_MISMATCH
    return np.ravel(xs).copy(), np.ravel(ys).copy()


def outcome(call):
    """('value', result) or ('raised', exception type, first line of its message)."""
    try:
        return ("value", call())
    except Exception as error:
        return ("raised", type(error), str(error).partition("\n")[0])


def incompatible(name, what="function"):
    return ("raised", TypeError,
            f"{name}(): incompatible {what} arguments. The following argument types are supported:")


# ---------------------------------------------------------------------------
# The three kinds of hostile call

class Subclass(LinearRegression):
    pass


def construct(route, x, y):
    if route == "class":
        return LinearRegression(x, y)
    if route == "subclass":
        return Subclass(x, y)
    fit = LinearRegression.__new__(LinearRegression)
    try:
        assert fit.__init__(x, y) is None
    except Exception:
        state = outcome(fit.mean_x)
        assert state[0] == "raised" and state[2].startswith("this LinearRegression was never initialised"), \
            "a failed __init__ left a model behind"
        raise
    return fit


def check_construction(route, x, y):
    try:
        expected = expected_samples(x, y)
    except Rejected:
        want = incompatible("__init__", "constructor")
    except Raised as raised:
        want = ("raised", type(raised.args[0]), str(raised.args[0]).partition("\n")[0])
    else:
        want = ("raised", RuntimeError, LENGTH_MISMATCH) if expected is LENGTH_MISMATCH else ("value", expected)
    got = outcome(lambda: construct(route, x(), y()))
    if want[0] == "value" and got[0] == "value":
        assert snapshot(got[1]) == snapshot(LinearRegression(*want[1])), "stored samples differ from NumPy's"
    else:
        assert got == want


def expected_method_outcome(fit, name, args, kwargs):
    if name == "__init__":
        return ("value", None)  # a constructed instance ignores any further __init__
    if kwargs or len(args) != ARITY[name]:
        return incompatible(name)
    try:
        if name == "predict_single":
            return ("value", bits(fit.predict_single(as_double(args[0]()))))
        if name == "predict":
            return ("value", [bits(fit.predict_single(v)) for v in as_doubles(args[0]())])
    except Rejected:
        return incompatible(name)
    except Raised as raised:
        error = raised.args[0]
        return ("raised", type(error), str(error).partition("\n")[0])
    return ("value", None if name == "summary" else bits(getattr(fit, name)()))


def check_method(data, name, args, kwargs):
    fit = LinearRegression(*data)
    before = snapshot(fit)
    want = expected_method_outcome(fit, name, args, kwargs)
    got = outcome(lambda: getattr(fit, name)(*[make() for make in args], **{k: make() for k, make in kwargs.items()}))
    if got[0] == "value" and isinstance(got[1], float):
        got = ("value", bits(got[1]))
    elif got[0] == "value" and isinstance(got[1], list):
        assert all(type(v) is float for v in got[1])
        got = ("value", [bits(v) for v in got[1]])
    assert got == want
    assert snapshot(fit) == before, "the call changed the instance"


def check_foreign_self(impostor, name):
    args = {"__init__": ([1.0], [2.0]), **METHOD_ARGS}[name]
    got = outcome(lambda: getattr(LinearRegression, name)(impostor, *args))
    if impostor is SHARED_FIT:
        assert got[0] == "value"  # a genuine, constructed instance
        return
    blank = issubclass(type(impostor), LinearRegression)  # the real type: a blank instance of the class
    if name == "__init__":
        assert got == (("value", None) if blank else
                       ("raised", TypeError, "__init__(self, ...) called with invalid or missing `self` argument"))
    elif blank:
        assert got == ("raised", TypeError,
                       "this LinearRegression was never initialised: create it as LinearRegression(x, y)")
    else:
        assert got == incompatible(name)


def fitting_arguments(name):
    """Arguments of the right number for the method, mostly ones it may accept."""
    if name == "predict_single":
        single = st.one_of(leaves.map(fixed), arguments)
    elif name == "predict":
        items = st.one_of(plain_numbers, number_likes, numpy_scalars, leaves)
        single = st.one_of(st.lists(items, max_size=6).map(fixed), st.lists(items, max_size=6).map(tuple).map(fixed),
                           arrays.map(fixed), one_shot, arguments)
    else:
        return st.lists(arguments, max_size=ARITY.get(name, 2))
    return st.lists(single, min_size=1, max_size=1)


fit_data = st.tuples(floats_lists, floats_lists).map(lambda pair: (pair[0][:len(pair[1])], pair[1][:len(pair[0])]))
method_names = st.sampled_from(list(ARITY) + ["__init__"])
keyword_arguments = st.dictionaries(st.sampled_from(["arg0", "value", "x", "self"]), arguments, min_size=1, max_size=1)
routes = st.sampled_from(["class", "subclass", "blank __init__"])

calls = st.one_of(
    st.tuples(st.just(check_construction), routes, arguments, arguments),
    st.builds(lambda route, pair: (check_construction, route, *pair), routes, same_size_pairs()),
    st.one_of(method_names, st.sampled_from(["predict", "predict_single"])).flatmap(
        lambda name: st.tuples(st.just(check_method), fit_data, st.just(name), fitting_arguments(name), st.just({}))),
    st.tuples(st.just(check_method), fit_data, method_names, st.lists(arguments, max_size=3),
              st.one_of(st.just({}), keyword_arguments)),
    st.tuples(st.just(check_foreign_self), impostors, method_names),
)


def fuzz(examples, result_path, last_example_path):
    """Runs `examples` hostile calls; the file at last_example_path names the call in progress."""
    warnings.simplefilter("ignore")
    progress = os.open(last_example_path, os.O_WRONLY | os.O_CREAT | os.O_TRUNC)
    count = 0

    @settings(max_examples=examples, deadline=None, database=None, print_blob=True,
              suppress_health_check=list(HealthCheck))
    @given(calls)
    def hostile_call(call):
        nonlocal count
        count += 1
        check, *args = call
        label = f"{check.__name__}({', '.join(describe(v) for v in args)})".encode(errors="replace")
        os.pwrite(progress, label, 0)
        os.ftruncate(progress, len(label))
        check(*args)

    hostile_call()
    pathlib.Path(result_path).write_text(str(count))


if __name__ == "__main__":
    fuzz(int(sys.argv[1]), sys.argv[2], sys.argv[3])
