#pragma once

#include <cstddef>
#include <vector>

namespace trendfit {

// A read-only view of an N-dimensional array of doubles. Its elements are
// taken in row-major order (last index fastest) through byte strides, so
// reversed, transposed, sliced and broadcast (zero-stride) layouts all work.
// The data need not be aligned.
struct DoubleArrayView {
    const void* data;
    std::size_t ndim;
    const std::ptrdiff_t* shape;    // ndim extents
    const std::ptrdiff_t* strides;  // ndim byte strides
};

// Simple least-squares fit of y = intercept + slope * x.
//
// The samples are copied at construction and never change. Every method
// recomputes its answer from them: nothing is cached between calls. Every sum
// is a plain running sum in index order, every operation is rounded to double,
// so each result is reproducible bit for bit.
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

    double rmse() const;
    double mae() const;
    double r_squared() const;
    double residual_std_error() const;
    double slope_standard_error() const;
    double t_value_slope() const;

    // Writes the 13-line report to std::cout. Throws std::system_error if the
    // stream rejects a write; the stream's error state is cleared first so a
    // later report can succeed.
    void summary() const;

private:
    std::vector<double> x;
    std::vector<double> y;
};

}  // namespace trendfit
