#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "model/double_array_view.hpp"
#include "model/fitted_line.hpp"
#include "model/sample_allocator.hpp"

namespace trendfit {

struct StatisticValues;  // one value per statistic (statistics.hpp)

// Simple least-squares fit of y = intercept + slope * x.
//
// The samples are copied at construction and never change. Every method
// recomputes its answer from them: nothing is cached between calls. Every sum
// is a plain running sum in index order, every operation is rounded to double,
// so each result is reproducible bit for bit. Every method computes, and the
// report is formatted, in the IEEE 754 default floating-point state whatever
// state the caller left the thread in, and hands that state back unchanged.
class LinearRegression {
public:
    // Copies both arrays. Throws std::runtime_error if their element counts
    // differ.
    LinearRegression(const DoubleArrayView& x_values, const DoubleArrayView& y_values);

    double mean_x() const;
    double mean_y() const;
    double pearson_correlation() const;
    double std_x() const;
    double std_y() const;

    double slope() const;
    double intercept() const;
    double predict_single(double value) const;
    std::vector<double> predict(const std::vector<double>& values) const;
    FittedLine fitted_line() const;

    double rmse() const;
    double mae() const;
    double r_squared() const;
    double residual_std_error() const;
    double slope_standard_error() const;
    double t_value_slope() const;

    // Every statistic in the table's order (statistics.hpp), from three shared
    // passes (two for the means and Sxx, Syy, Sxy, one for the residuals);
    // each is bit for bit what its own method returns.
    StatisticValues report_values() const;

    // The report, a line per statistic: its label, the value as a
    // default-formatted standard stream writes it (%g, six significant
    // digits, classic locale) and a line feed.
    std::string report() const;

    // Writes report() to standard output, see write_to_standard_output.
    void summary() const;

private:
    Samples x;
    Samples y;
};

}  // namespace trendfit
