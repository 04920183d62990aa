"""What each statistic must be: a plain-Python statement of the fit, used to
check the module bit for bit, and hand-worked examples.

Python floats are IEEE 754 doubles and every operation below rounds once, so
this reproduces the intended arithmetic exactly. Each statistic is computed
the long way, from its own definition, with no sharing between them.
"""

import math

from helpers import STATISTICS

inf, nan = math.inf, math.nan


def div(a, b):
    """IEEE 754 division, including division by zero."""
    if b != 0.0 or math.isnan(b):
        return a / b
    if a == 0.0 or math.isnan(a):
        return nan
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
        return nan
    m = mean(v)
    return math.sqrt(div(running_sum((t - m) * (t - m) for t in v), degrees_of_freedom(len(v), 1)))


def pearson_correlation(x, y):
    if not x:
        return nan
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
        return nan
    p = predict(x, y, x)
    my = mean(y)
    ss_res = running_sum((pi - yi) * (pi - yi) for pi, yi in zip(p, y))
    ss_tot = running_sum((yi - my) * (yi - my) for yi in y)
    return 1.0 - div(ss_res, ss_tot)


def residual_std_error(x, y):
    if not x:
        return nan
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

# Statistics that are one operation on what other methods return, with that
# operation's operands in that order, so that even a NaN result's sign and
# payload must match.
FROM_OTHER_METHODS = {"t_value_slope": lambda fit: fit.slope() / fit.slope_standard_error()}

# Hand-worked examples: (x, y, {statistic: expected value}).
WORKED = [
    # n - 1 and n - 2 wrap around for n = 0; that must not read as "no spread" or "perfect fit".
    ([], [], dict(mean_x=nan, mean_y=nan, std_x=nan, std_y=nan, pearson_correlation=nan, slope=nan,
                  intercept=nan, rmse=nan, mae=nan, r_squared=nan, residual_std_error=nan,
                  slope_standard_error=nan, t_value_slope=nan)),
    ([2.0], [3.0], dict(mean_x=2.0, mean_y=3.0, std_x=nan, std_y=nan, pearson_correlation=nan, slope=nan,
                        intercept=nan, rmse=nan, mae=nan, r_squared=nan, residual_std_error=nan,
                        slope_standard_error=nan, t_value_slope=nan)),
    ([-0.0], [-0.0], dict(mean_x=0.0, mean_y=0.0)),
    ([0.0, 1.0], [1.0, 3.0], dict(mean_x=0.5, mean_y=2.0, std_x=0.7071067811865476, std_y=1.4142135623730951,
                                  pearson_correlation=1.0, slope=2.0, intercept=1.0, rmse=0.0, mae=0.0,
                                  r_squared=1.0, residual_std_error=nan, slope_standard_error=nan,
                                  t_value_slope=nan)),
    ([3.0, 1.0], [1.0, 3.0], dict(pearson_correlation=-1.0, slope=-1.0, intercept=4.0)),
    ([1.0, 4.0], [2.0, -7.0], dict(slope=-3.0, intercept=5.0)),
    ([0.1, 0.7], [0.3, 0.9], dict(mean_x=0.39999999999999997, pearson_correlation=1.0000000000000002,
                                  slope=1.0000000000000004, intercept=0.19999999999999984,
                                  rmse=1.1102230246251565e-16, mae=1.1102230246251565e-16, r_squared=1.0,
                                  residual_std_error=inf, slope_standard_error=inf, t_value_slope=0.0)),
    ([0.1, 0.7], [0.9, 0.3], dict(residual_std_error=inf, slope_standard_error=inf, t_value_slope=-0.0)),
    ([1.0, 2.0, 3.0, 4.0, 5.0], [2.0, 4.0, 5.0, 4.0, 5.0],
     dict(mean_x=3.0, mean_y=4.0, std_x=1.5811388300841898, std_y=1.224744871391589,
          pearson_correlation=0.7745966692414834, slope=0.6, intercept=2.2, rmse=0.6928203230275508,
          mae=0.6399999999999999, r_squared=0.6000000000000001, residual_std_error=0.8944271909999157,
          slope_standard_error=0.28284271247461895, t_value_slope=2.121320343559643)),
    ([1.0, 2.0, 3.0, 4.0, 5.0], [3.0, 5.0, 7.0, 9.0, 11.0],
     dict(slope=2.0, intercept=1.0, rmse=0.0, mae=0.0, r_squared=1.0, residual_std_error=0.0,
          slope_standard_error=0.0, t_value_slope=inf)),
    ([1.0, 2.0, 3.0, 4.0], [8.0, 6.0, 4.0, 2.0], dict(t_value_slope=-inf)),
    ([2.0, 2.0, 2.0], [1.0, 2.0, 4.0], dict(std_x=0.0, pearson_correlation=nan, slope=nan, intercept=nan,
                                            rmse=nan, mae=nan, r_squared=nan, residual_std_error=nan,
                                            slope_standard_error=nan, t_value_slope=nan)),
    ([1.0, 2.0, 4.0], [5.0, 5.0, 5.0], dict(std_y=0.0, pearson_correlation=nan, slope=nan, intercept=nan,
                                            r_squared=nan, t_value_slope=nan)),
    ([0.1, 0.1, 0.1], [1.0, 2.0, 4.0],
     dict(mean_x=0.10000000000000002, std_x=1.6996749443881478e-17, pearson_correlation=1.18687833744435e-16,
          slope=10.666666666666666, intercept=1.2666666666666666, rmse=1.247219128924647,
          mae=1.111111111111111, r_squared=0.0, residual_std_error=2.1602468994692865,
          slope_standard_error=8.987160966839032e16, t_value_slope=1.18687833744435e-16)),
    ([3.0, 0.0, 1.0], [0.1, 0.2, -0.3], dict(r_squared=-2.220446049250313e-16)),
    ([1e100, 2e100, 3e100], [1e100, 2e100, 3e100],
     dict(std_x=9.999999999999998e99, std_y=9.999999999999998e99, pearson_correlation=0.0, slope=0.0,
          intercept=2e100, rmse=8.16496580927726e99, mae=6.666666666666665e99, r_squared=0.0,
          residual_std_error=1.4142135623730948e100, slope_standard_error=1.0, t_value_slope=0.0)),
    ([1e-100, 2e-100, 3e-100], [1e-100, 2e-100, 3e-100],
     dict(std_x=1e-100, pearson_correlation=inf, slope=inf, intercept=-inf, rmse=nan, mae=nan,
          r_squared=nan, residual_std_error=nan, slope_standard_error=nan, t_value_slope=nan)),
    ([1e154, 2e154, 3e154], [1e154, 2e154, 3e154], dict(std_x=inf, std_y=inf, pearson_correlation=nan)),
    ([1.0, nan, 3.0], [1.0, 2.0, 3.0], dict(mean_x=nan, std_x=nan, pearson_correlation=nan, mean_y=2.0,
                                            std_y=1.0, slope=nan, rmse=nan, t_value_slope=nan)),
    ([1.0, 2.0, 3.0], [1.0, inf, 3.0], dict(mean_y=inf, std_y=nan, pearson_correlation=nan, mae=nan)),
]
