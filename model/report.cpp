// The thirteen-line report: its values from three shared passes and its
// text; standard_output.cpp delivers it.

#include <array>
#include <cstddef>
#include <locale>
#include <sstream>
#include <string>

#include "model/floating_point_state.hpp"
#include "model/linear_regression.hpp"
#include "model/passes.hpp"
#include "model/standard_output.hpp"

namespace trendfit {
namespace {

constexpr std::array<const char*, 13> report_labels = {
    "Mean(X): ", "Mean(Y): ", "Pearson correlation: ", "Std(X): ", "Std(Y): ", "Slope: ", "Intercept: ",
    "RMSE: ", "MAE: ", "R\xC2\xB2: ",  // UTF-8 "R²: "
    "Residual Std Error: ", "Slope Std Error: ", "t-value (slope): ",
};

}  // namespace

using namespace detail;

std::array<double, 13> LinearRegression::report_values() const {
    // Three passes in all. Each value is the expression its own method
    // evaluates: the means and Sxx, Syy come out of the moments pass exactly
    // as the single-array passes of mean_x, std_x and the others make them.
    const DefaultFloatingPointState guard;
    const Fit fit = fit_of(x, y);
    const Moments& m = fit.moments;
    return {m.mean_x, m.mean_y, correlation(m), sample_std(m.sxx, m.n), sample_std(m.syy, m.n),
            fit.line.slope, fit.line.intercept, fit.rmse(), fit.mae(), fit.r_squared(),
            fit.residual_std_error(), fit.slope_standard_error(), fit.t_value_slope()};
}

std::string LinearRegression::report() const {
    // Formatted in the default state too: the C library rounds the digits it
    // prints in the current rounding mode.
    const DefaultFloatingPointState guard;
    const std::array<double, 13> values = report_values();
    std::ostringstream text;  // its own stream: the default format, whatever state std::cout is in
    text.imbue(std::locale::classic());
    for (std::size_t line = 0; line < values.size(); ++line) text << report_labels[line] << values[line] << '\n';
    return text.str();
}

// The write runs in the caller's state: it may run the caller's code.
void LinearRegression::summary() const { write_to_standard_output(report()); }

}  // namespace trendfit
