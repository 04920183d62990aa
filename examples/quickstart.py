"""Fit a straight line to eight weeks of advertising spend and sales."""

import numpy as np

from trendfit import LinearRegression

spend = np.array([1.2, 2.0, 2.9, 3.1, 4.4, 5.0, 5.8, 7.1])  # thousands per week
sales = np.array([13.1, 17.9, 22.8, 24.1, 30.2, 33.0, 38.9, 44.7])  # units sold

fit = LinearRegression(spend, sales)
print("slope:                ", fit.slope())
print("intercept:            ", fit.intercept())
print("R squared:            ", fit.r_squared())
print("sales at 6.0:         ", fit.predict_single(6.0))
print("sales at 8, 9 and 10: ", fit.predict([8.0, 9.0, 10.0]))

print()
fit.summary()
