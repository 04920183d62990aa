#pragma once

// Every statistic of the model, in the report's order. A row names the
// method (in C++ and in Python), gives the report's label for it, the method
// itself and the same value from the three passes the report shares. The
// report, the Python module's methods and the C++ test programs are all made
// from this table: a new statistic is a method of LinearRegression, one of
// detail::Fit and a row here.

#include <array>
#include <iterator>

#include "model/linear_regression.hpp"
#include "model/passes.hpp"

namespace trendfit {

struct Statistic {
    const char* name;
    const char* label;  // the start of its line in the report; the value follows
    double (LinearRegression::*method)() const;
    double (detail::Fit::*from_shared_passes)() const;  // bit for bit what the method returns
};

inline constexpr Statistic statistics[] = {
    {"mean_x", "Mean(X): ", &LinearRegression::mean_x, &detail::Fit::mean_x},
    {"mean_y", "Mean(Y): ", &LinearRegression::mean_y, &detail::Fit::mean_y},
    {"pearson_correlation", "Pearson correlation: ", &LinearRegression::pearson_correlation,
     &detail::Fit::pearson_correlation},
    {"std_x", "Std(X): ", &LinearRegression::std_x, &detail::Fit::std_x},
    {"std_y", "Std(Y): ", &LinearRegression::std_y, &detail::Fit::std_y},
    {"slope", "Slope: ", &LinearRegression::slope, &detail::Fit::slope},
    {"intercept", "Intercept: ", &LinearRegression::intercept, &detail::Fit::intercept},
    {"rmse", "RMSE: ", &LinearRegression::rmse, &detail::Fit::rmse},
    {"mae", "MAE: ", &LinearRegression::mae, &detail::Fit::mae},
    {"r_squared", "R\xC2\xB2: ", &LinearRegression::r_squared, &detail::Fit::r_squared},  // UTF-8 "R²: "
    {"residual_std_error", "Residual Std Error: ", &LinearRegression::residual_std_error,
     &detail::Fit::residual_std_error},
    {"slope_standard_error", "Slope Std Error: ", &LinearRegression::slope_standard_error,
     &detail::Fit::slope_standard_error},
    {"t_value_slope", "t-value (slope): ", &LinearRegression::t_value_slope, &detail::Fit::t_value_slope},
};

// One value per statistic, in the table's order.
struct StatisticValues : std::array<double, std::size(statistics)> {};

}  // namespace trendfit
