"""Fit a straight line to a small data set and print what trendfit knows about it."""

import sys

import numpy as np

from trendfit import LinearRegression

# Advertising spend (thousands) against sales (units) for eight weeks.
spend = np.array([1.2, 2.0, 2.9, 3.1, 4.4, 5.0, 5.8, 7.1])
sales = np.array([13.1, 17.9, 22.8, 24.1, 30.2, 33.0, 38.9, 44.7])

fit = LinearRegression(spend, sales)

print(f"n = {len(spend)} samples")
for name in ("mean_x", "mean_y", "std_x", "std_y", "pearson_correlation", "slope", "intercept",
             "rmse", "mae", "r_squared", "residual_std_error", "slope_standard_error", "t_value_slope"):
    print(f"{name:>21} = {getattr(fit, name)()!r}")
print(f"sales at spend 6.0 = {fit.predict_single(6.0)!r}")
print(f"sales at 8, 9, 10  = {fit.predict([8.0, 9.0, 10.0])!r}")

# The report is written by C++ straight to the process's standard output, not
# through sys.stdout: flush Python's buffer first so the two appear in order.
print("\nReport:")
sys.stdout.flush()
fit.summary()
