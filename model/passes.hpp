#pragma once

// The passes over the stored samples and the statistics made from their
// sums. Each accumulator starts at 0.0 and adds one rounded term at a time in
// increasing index order.

#include <cstddef>
#include <cstdint>

#include "model/arithmetic.hpp"
#include "model/fitted_line.hpp"
#include "model/sample_allocator.hpp"

namespace trendfit::detail {

// n as a double, through an unsigned 64-bit count.
inline double count_as_double(std::size_t n) { return static_cast<double>(static_cast<std::uint64_t>(n)); }

// Means of both sequences and the centred sums Sxx, Syy, Sxy: two passes.
struct Moments {
    std::size_t n;
    double mean_x, mean_y;
    double sxx, syy, sxy;
};

// The residuals e_i = p_i - y_i of the predictions at the stored x, summed
// as squares and as absolute values in one pass.
struct ResidualSums {
    double squares;
    double absolutes;
};

// sqrt(sum_of_squares / (n - k)). With no data there is no spread or error
// to report: n = 0 divides by n itself (0/0, NaN like every other statistic
// of no data) instead of by the wrapped n - k, which would give +0.0.
double root_mean_square(double sum_of_squares, std::size_t n, std::uint64_t k);
double sample_std(double sum_of_squares, std::size_t n);
double correlation(const Moments& m);

// The three passes every fit measure needs, and every statistic made from
// them (the report's values). The means, Sxx and Syy come out of the moments
// pass exactly as the single-array passes of mean_x, std_x and the others make
// them, so each has the bits of its own method.
struct Fit {
    Moments moments;
    FittedLine line;
    ResidualSums residuals;

    double mean_x() const { return moments.mean_x; }
    double mean_y() const { return moments.mean_y; }
    double pearson_correlation() const { return correlation(moments); }
    double std_x() const { return sample_std(moments.sxx, moments.n); }
    double std_y() const { return sample_std(moments.syy, moments.n); }
    double slope() const { return line.slope; }
    double intercept() const { return line.intercept; }

    double rmse() const {
        return InWrittenOrder::sqrt(InWrittenOrder::div(residuals.squares, count_as_double(moments.n)));
    }
    double mae() const { return InWrittenOrder::div(residuals.absolutes, count_as_double(moments.n)); }
    // Syy is the total sum of squares.
    double r_squared() const { return InWrittenOrder::sub(1.0, InWrittenOrder::div(residuals.squares, moments.syy)); }
    double residual_std_error() const { return root_mean_square(residuals.squares, moments.n, 2); }
    double slope_standard_error() const {
        return InWrittenOrder::div(residual_std_error(), InWrittenOrder::sqrt(moments.sxx));
    }
    double t_value_slope() const { return InWrittenOrder::div(line.slope, slope_standard_error()); }
};

// One sequence: its mean (one pass) and sample standard deviation (two).
double mean_of(const Samples& v);
double std_of(const Samples& v);

Moments moments_of(const Samples& x, const Samples& y);
FittedLine line_of(const Moments& m);
Fit fit_of(const Samples& x, const Samples& y);

}  // namespace trendfit::detail
