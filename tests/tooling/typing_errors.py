# pyright: strict
"""Wrong uses of trendfit: every line marked "expect" must be an error for
mypy --strict and pyright --strict, with exactly the error codes named there,
and no other line may be. Run as a script, each wrong call also fails at run
time with the exception that its `rejected` block names.
"""

from collections.abc import Generator
from contextlib import contextmanager

import numpy as np
import pandas as pd

import trendfit
from trendfit import LinearRegression


@contextmanager
def rejected(exception: type[Exception]) -> Generator[None, None, None]:
    try:
        yield
    except exception:
        return
    raise AssertionError(f"no {exception.__name__} was raised")


fit = LinearRegression([1.0, 2.0, 3.0], [2.0, 4.0, 7.0])
words = np.array(["1.0", "2.0"], dtype=np.str_)  # text, not numbers

with rejected(TypeError):
    LinearRegression([1.0])  # expect: mypy[call-arg] pyright[reportCallIssue]
with rejected(TypeError):
    LinearRegression(x=[1.0], y=[2.0])  # expect: mypy[call-arg] pyright[reportCallIssue]
with rejected(TypeError):
    fit.mean_x(1)  # expect: mypy[call-arg] pyright[reportCallIssue]
with rejected(TypeError):
    LinearRegression.mean_x(self=fit)  # expect: mypy[call-arg] pyright[reportCallIssue]
with rejected(TypeError):
    fit.predict_single(value=2.0)  # expect: mypy[call-arg] pyright[reportCallIssue]
with rejected(TypeError):
    fit.predict_single("2")  # expect: mypy[arg-type] pyright[reportArgumentType]
with rejected(TypeError):
    fit.predict_single(None)  # expect: mypy[arg-type] pyright[reportArgumentType]
with rejected(TypeError):
    fit.predict_single(1j)  # expect: mypy[arg-type] pyright[reportArgumentType]
with rejected(TypeError):
    fit.predict("12")  # expect: mypy[arg-type] pyright[reportArgumentType]
with rejected(TypeError):
    fit.predict(b"12")  # expect: mypy[arg-type] pyright[reportArgumentType]
with rejected(TypeError):
    fit.predict(pd.Series(["1.0", "2.0"]))  # expect: mypy[arg-type] pyright[reportArgumentType]
with rejected(TypeError):
    fit.predict(1.0)  # expect: mypy[arg-type] pyright[reportArgumentType]
with rejected(TypeError):
    fit.predict({1.0: 2.0})  # expect: mypy[arg-type] pyright[reportArgumentType]
with rejected(TypeError):
    fit.predict(iter([1.0]))  # expect: mypy[arg-type] pyright[reportArgumentType]
with rejected(TypeError):
    fit.predict(words)  # expect: mypy[arg-type] pyright[reportArgumentType]
with rejected(TypeError):
    fit.predict([1.0, "a"])  # expect: mypy[list-item] pyright[reportArgumentType]
with rejected(TypeError):
    LinearRegression.slope(None)  # expect: mypy[arg-type] pyright[reportArgumentType]
with rejected(AttributeError):
    fit.foo = 1  # expect: mypy[attr-defined] pyright[reportAttributeAccessIssue]
with rejected(AttributeError):
    trendfit.__version__  # noqa: B018  # expect: mypy[attr-defined] pyright[reportAttributeAccessIssue,reportUnknownMemberType]

# Results used as the wrong type.
label: str = fit.slope()  # expect: mypy[assignment] pyright[reportAssignmentType]
names: list[str] = fit.predict([1.0])  # expect: mypy[assignment] pyright[reportAssignmentType]
nothing = fit.summary()  # expect: mypy[func-returns-value]
