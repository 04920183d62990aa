// LinearRegression: construction, and the statistics and predictions, each a
// call of the passes over the stored samples, recomputed every time, in the
// default floating-point state whatever state the caller left.

#include "model/linear_regression.hpp"

#include <stdexcept>

#include "model/floating_point_state.hpp"
#include "model/passes.hpp"

namespace trendfit {

using namespace detail;

namespace {

// A measure of the fit's residuals: the three passes of fit_of, then `measure`.
double measure_of_fit(const Samples& x, const Samples& y, double (Fit::*measure)() const) {
    return in_default_state([&] { return (fit_of(x, y).*measure)(); });
}

}  // namespace

LinearRegression::LinearRegression(const DoubleArrayView& x_values, const DoubleArrayView& y_values) {
    // Copying does no arithmetic, but on 32-bit x86 a double can pass
    // through the x87 stack, where a signalling NaN would trap.
    const detail::DefaultFloatingPointState guard;
    const std::size_t n = element_count(x_values);
    if (element_count(y_values) != n) throw std::runtime_error("x and y must have the same length");
    x.reserve(n);
    y.reserve(n);
    append_elements(x_values, n, x);
    append_elements(y_values, n, y);
}

double LinearRegression::mean_x() const {
    return in_default_state([&] { return mean_of(x); });
}
double LinearRegression::mean_y() const {
    return in_default_state([&] { return mean_of(y); });
}
double LinearRegression::std_x() const {
    return in_default_state([&] { return std_of(x); });
}
double LinearRegression::std_y() const {
    return in_default_state([&] { return std_of(y); });
}
double LinearRegression::pearson_correlation() const {
    return in_default_state([&] { return correlation(moments_of(x, y)); });
}

double LinearRegression::slope() const {
    return in_default_state([&] { return line_of(moments_of(x, y)).slope; });
}
double LinearRegression::intercept() const {
    return in_default_state([&] { return line_of(moments_of(x, y)).intercept; });
}
double LinearRegression::predict_single(double value) const {
    return in_default_state([&] { return line_of(moments_of(x, y)).at(value); });
}

std::vector<double> LinearRegression::predict(const std::vector<double>& values) const {
    std::vector<double> predictions(values.size());
    fitted_line().predict(values.data(), values.size(), predictions.data());  // each step guarded
    return predictions;
}

FittedLine LinearRegression::fitted_line() const {
    return in_default_state([&] { return line_of(moments_of(x, y)); });
}

double LinearRegression::rmse() const { return measure_of_fit(x, y, &Fit::rmse); }
double LinearRegression::mae() const { return measure_of_fit(x, y, &Fit::mae); }
double LinearRegression::r_squared() const { return measure_of_fit(x, y, &Fit::r_squared); }
double LinearRegression::residual_std_error() const { return measure_of_fit(x, y, &Fit::residual_std_error); }
double LinearRegression::slope_standard_error() const { return measure_of_fit(x, y, &Fit::slope_standard_error); }
double LinearRegression::t_value_slope() const { return measure_of_fit(x, y, &Fit::t_value_slope); }

}  // namespace trendfit
