"""The Python face of the module: members, signatures, argument conversion and errors."""

import fractions
import decimal

import numpy as np
import pytest

import trendfit
from helpers import STATISTICS, bits, run_child
from trendfit import LinearRegression

MEMBERS = [
    "_pybind11_conduit_v1_", "__init__", "mean_x", "mean_y", "pearson_correlation", "std_x", "std_y",
    "slope", "intercept", "predict_single", "predict", "rmse", "mae", "r_squared", "residual_std_error",
    "slope_standard_error", "t_value_slope", "summary",
]


@pytest.fixture
def fit():
    return LinearRegression([1.0, 2.0, 3.0, 4.0, 5.0], [2.0, 4.0, 5.0, 4.0, 5.0])


def test_module_and_class_surface():
    assert trendfit.__doc__ == "Linear Regression with NumPy support"
    assert LinearRegression.__doc__ is None
    assert LinearRegression.__module__ == "trendfit"
    assert {name for name in vars(trendfit) if not name.startswith("__")} == {"LinearRegression"}
    assert "__init__" in vars(LinearRegression)
    own = [name for name in vars(LinearRegression) if name not in ("__doc__", "__module__", "__init__")]
    assert own == [name for name in MEMBERS if name != "__init__"]
    assert list(vars(LinearRegression)) == ["__init__", "__doc__", "__module__"] + own


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


BAD_VALUES = ["2", None, b"x", 10**400, {"a": 1.0}, [1.0, "a"], object(), 1j]


@pytest.mark.parametrize("value", BAD_VALUES, ids=repr)
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
        lambda f: f.predict([1.0], [2.0]),
        lambda f: f.summary(None),
        lambda f: LinearRegression.mean_x(5),
        lambda f: LinearRegression.mean_x(None),
        lambda f: LinearRegression.predict_single("fit", 2.0),
        lambda f: LinearRegression(x=[1.0], y=[1.0]),
        lambda f: LinearRegression([1.0]),
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
    with pytest.raises(TypeError, match=r"^trendfit\.LinearRegression\.__init__\(\) must be called when overriding __init__$"):
        Forgetful([1.0], [1.0])


def test_import_is_light_and_idempotent():
    result = run_child("""
        import sys
        import trendfit
        assert "numpy" not in sys.modules, "importing trendfit imported numpy"
        first, cls = trendfit, trendfit.LinearRegression
        del sys.modules["trendfit"]
        import trendfit
        assert trendfit is first and trendfit.LinearRegression is cls
        trendfit.LinearRegression([1.0], [2.0])
        assert "numpy" in sys.modules
    """)
    assert result.returncode == 0, result.stderr.decode()


@pytest.mark.parametrize("name", STATISTICS + ["predict_single", "predict", "summary"])
def test_uninitialised_or_missing_self_raises_instead_of_crashing(name):
    args = {"predict_single": [1.0], "predict": [[1.0]]}.get(name, [])
    result = run_child(f"""
        from trendfit import LinearRegression
        blank = LinearRegression.__new__(LinearRegression)
        for self in (blank, None):
            try:
                LinearRegression.{name}(self, *{args!r})
            except TypeError as error:
                print(str(error).splitlines()[0])
            else:
                raise SystemExit("no TypeError")
    """)
    assert result.returncode == 0, result.stderr.decode()
    assert result.stdout.decode().splitlines() == [
        "this LinearRegression was never initialised: create it as LinearRegression(x, y)",
        f"{name}(): incompatible function arguments. The following argument types are supported:",
    ]
