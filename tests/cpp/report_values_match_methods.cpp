// Checks that every value of the report, computed from shared passes, has the
// bits of its own method, NaN signs and payloads included. Prints each data
// set and value that differs; exits 1 if any does.

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <limits>
#include <vector>

#include "model/linear_regression.hpp"

namespace {

using Method = double (trendfit::LinearRegression::*)() const;
using trendfit::LinearRegression;
const Method methods[] = {
    &LinearRegression::mean_x, &LinearRegression::mean_y, &LinearRegression::pearson_correlation,
    &LinearRegression::std_x, &LinearRegression::std_y, &LinearRegression::slope, &LinearRegression::intercept,
    &LinearRegression::rmse, &LinearRegression::mae, &LinearRegression::r_squared,
    &LinearRegression::residual_std_error, &LinearRegression::slope_standard_error,
    &LinearRegression::t_value_slope,
};

double nan_with(std::uint64_t bits) {
    double value;
    std::memcpy(&value, &bits, sizeof value);
    return value;
}

std::uint64_t bits_of(double value) {
    std::uint64_t bits;
    std::memcpy(&bits, &value, sizeof bits);
    return bits;
}

LinearRegression fit_of(const std::vector<double>& x, const std::vector<double>& y) {
    const std::ptrdiff_t x_shape[] = {static_cast<std::ptrdiff_t>(x.size())};
    const std::ptrdiff_t y_shape[] = {static_cast<std::ptrdiff_t>(y.size())};
    const std::ptrdiff_t strides[] = {sizeof(double)};
    return LinearRegression({x.data(), 1, x_shape, strides}, {y.data(), 1, y_shape, strides});
}

}  // namespace

int main() {
    const double inf = std::numeric_limits<double>::infinity();
    const double nan_a = nan_with(0x7ff8000000000123), nan_b = nan_with(0xfff4000000000456);  // quiet, signalling
    const std::vector<std::vector<double>> x_sets = {
        {}, {2.0}, {0.1, 0.7}, {1.0, 2.0, 3.0, 4.0, 5.0}, {0.1, 0.1, 0.1}, {1e100, 2e100, 3e100},
        {1.0, nan_a, 3.0, 4.0}, {nan_b, 2.0, nan_a, 4.0}, {1.0, 2.0, inf, 4.0}, {-inf, 2.0, inf, 4.0},
        {1.0, 2.0, 3.0, 4.0},
    };
    const std::vector<std::vector<double>> y_sets = {
        {}, {3.0}, {0.9, 0.3}, {2.0, 4.0, 5.0, 4.0, 5.0}, {1.0, 2.0, 4.0}, {1e100, 2e100, 3e100},
        {2.0, 1.0, nan_b, 5.0}, {1.0, nan_b, 3.0, -nan_a}, {nan_a, 1.0, 2.0, -inf}, {1.0, 2.0, 3.0, 4.0},
        {-nan_b, inf, 1.0, -inf},
    };
    int differences = 0;
    for (std::size_t set = 0; set < x_sets.size(); ++set) {
        const LinearRegression fit = fit_of(x_sets[set], y_sets[set]);
        const std::array<double, 13> values = fit.report_values();
        for (std::size_t line = 0; line < values.size(); ++line) {
            const double own = (fit.*methods[line])();
            if (bits_of(values[line]) == bits_of(own)) continue;
            std::printf("data set %zu, line %zu: %016llx, its method %016llx\n", set, line + 1,
                        static_cast<unsigned long long>(bits_of(values[line])),
                        static_cast<unsigned long long>(bits_of(own)));
            ++differences;
        }
    }
    return differences == 0 ? 0 : 1;
}
