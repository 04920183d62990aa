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

// What a statistic describes. The Python class lists them by subject, with
// the line's predictions after the line's own statistics.
enum class Subject { samples, fitted_line, fit_quality };

struct Statistic {
    const char* name;
    const char* label;  // the start of its line in the report; the value follows
    Subject subject;
    double (LinearRegression::*method)() const;
    double (detail::Fit::*from_shared_passes)() const;  // bit for bit what the method returns
};

inline constexpr Statistic statistics[] = {
    {"mean_x", "Mean(X): ", Subject::samples, &LinearRegression::mean_x, &detail::Fit::mean_x},
    {"mean_y", "Mean(Y): ", Subject::samples, &LinearRegression::mean_y, &detail::Fit::mean_y},
    {"pearson_correlation", "Pearson correlation: ", Subject::samples, &LinearRegression::pearson_correlation,
     &detail::Fit::pearson_correlation},
    {"std_x", "Std(X): ", Subject::samples, &LinearRegression::std_x, &detail::Fit::std_x},
    {"std_y", "Std(Y): ", Subject::samples, &LinearRegression::std_y, &detail::Fit::std_y},
    {"slope", "Slope: ", Subject::fitted_line, &LinearRegression::slope, &detail::Fit::slope},
    {"intercept", "Intercept: ", Subject::fitted_line, &LinearRegression::intercept, &detail::Fit::intercept},
    {"rmse", "RMSE: ", Subject::fit_quality, &LinearRegression::rmse, &detail::Fit::rmse},
    {"mae", "MAE: ", Subject::fit_quality, &LinearRegression::mae, &detail::Fit::mae},
    {"r_squared", "R\xC2\xB2: ", Subject::fit_quality, &LinearRegression::r_squared,
     &detail::Fit::r_squared},  // UTF-8 "R²: "
    {"residual_std_error", "Residual Std Error: ", Subject::fit_quality, &LinearRegression::residual_std_error,
     &detail::Fit::residual_std_error},
    {"slope_standard_error", "Slope Std Error: ", Subject::fit_quality, &LinearRegression::slope_standard_error,
     &detail::Fit::slope_standard_error},
    {"t_value_slope", "t-value (slope): ", Subject::fit_quality, &LinearRegression::t_value_slope,
     &detail::Fit::t_value_slope},
};

// One value per statistic, in the table's order.
struct StatisticValues : std::array<double, std::size(statistics)> {};

}  // namespace trendfit
