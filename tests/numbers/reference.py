"""A plain-Python statement of the fit, used to check the module bit for bit.

Python floats are IEEE 754 doubles and every operation below rounds once, so
this reproduces the intended arithmetic exactly. Each statistic is computed
the long way, from its own definition, with no sharing between them.
"""

import math

from helpers import STATISTICS

NAN = math.nan


def div(a, b):
    """IEEE 754 division, including division by zero."""
    if b != 0.0 or math.isnan(b):
        return a / b
    if a == 0.0 or math.isnan(a):
        return NAN
    return math.copysign(math.inf, a) * math.copysign(1.0, b)


def running_sum(terms):
    total = 0.0
    for term in terms:
        total += term
    return total


def mean(v):
    return div(running_sum(v), float(len(v)))


def degrees_of_freedom(n, k):
    return float((n - k) % 2**64)  # unsigned 64-bit wrap-around


def std(v):
    if not v:
        return NAN
    m = mean(v)
    return math.sqrt(div(running_sum((t - m) * (t - m) for t in v), degrees_of_freedom(len(v), 1)))


def pearson_correlation(x, y):
    if not x:
        return NAN
    mx, my = mean(x), mean(y)
    sxy = running_sum((a - mx) * (b - my) for a, b in zip(x, y))
    sxx = running_sum((a - mx) * (a - mx) for a in x)
    syy = running_sum((b - my) * (b - my) for b in y)
    return div(sxy, math.sqrt(sxx * syy))


def slope(x, y):
    return div(std(y), std(x)) * pearson_correlation(x, y)


def intercept(x, y):
    return mean(y) - mean(x) * slope(x, y)


def predict_single(x, y, value):
    t = slope(x, y) * value
    return intercept(x, y) + t


def predict(x, y, values):
    b, a = slope(x, y), intercept(x, y)
    return [a + b * v for v in values]


def rmse(x, y):
    p = predict(x, y, x)
    return math.sqrt(div(running_sum((pi - yi) * (pi - yi) for pi, yi in zip(p, y)), float(len(y))))


def mae(x, y):
    p = predict(x, y, x)
    return div(running_sum(abs(pi - yi) for pi, yi in zip(p, y)), float(len(y)))


def r_squared(x, y):
    if not x:
        return NAN
    p = predict(x, y, x)
    my = mean(y)
    ss_res = running_sum((pi - yi) * (pi - yi) for pi, yi in zip(p, y))
    ss_tot = running_sum((yi - my) * (yi - my) for yi in y)
    return 1.0 - div(ss_res, ss_tot)


def residual_std_error(x, y):
    if not x:
        return NAN
    p = predict(x, y, x)
    s = running_sum((yi - pi) * (yi - pi) for pi, yi in zip(p, y))
    return math.sqrt(div(s, degrees_of_freedom(len(x), 2)))


def slope_standard_error(x, y):
    mx = mean(x) if x else 0.0
    sxx = running_sum((a - mx) * (a - mx) for a in x)
    return div(residual_std_error(x, y), math.sqrt(sxx))


def t_value_slope(x, y):
    return div(slope(x, y), slope_standard_error(x, y))


def mean_x(x, y):
    return mean(x)


def mean_y(x, y):
    return mean(y)


def std_x(x, y):
    return std(x)


def std_y(x, y):
    return std(y)


# The statement of each statistic, by the tests' one list of their names.
BY_NAME = {name: globals()[name] for name in STATISTICS}
