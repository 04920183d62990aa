#pragma once

// Every statistic of the model, by name, in the report's order.

#include "model/linear_regression.hpp"

namespace trendfit::testing {

struct Statistic {
    const char* name;
    double (LinearRegression::*value)() const;
};

inline const Statistic statistics[] = {
    {"mean_x", &LinearRegression::mean_x},
    {"mean_y", &LinearRegression::mean_y},
    {"pearson_correlation", &LinearRegression::pearson_correlation},
    {"std_x", &LinearRegression::std_x},
    {"std_y", &LinearRegression::std_y},
    {"slope", &LinearRegression::slope},
    {"intercept", &LinearRegression::intercept},
    {"rmse", &LinearRegression::rmse},
    {"mae", &LinearRegression::mae},
    {"r_squared", &LinearRegression::r_squared},
    {"residual_std_error", &LinearRegression::residual_std_error},
    {"slope_standard_error", &LinearRegression::slope_standard_error},
    {"t_value_slope", &LinearRegression::t_value_slope},
};

}  // namespace trendfit::testing
