// The report: its values from three shared passes and its text;
// standard_output.cpp delivers it.

#include <cstddef>
#include <locale>
#include <sstream>
#include <string>

#include "model/floating_point_state.hpp"
#include "model/linear_regression.hpp"
#include "model/passes.hpp"
#include "model/standard_output.hpp"
#include "model/statistics.hpp"

namespace trendfit {

using namespace detail;

StatisticValues LinearRegression::report_values() const {
    const DefaultFloatingPointState guard;
    const Fit fit = fit_of(x, y);
    StatisticValues values{};
    for (std::size_t row = 0; row < values.size(); ++row) values[row] = (fit.*statistics[row].from_shared_passes)();
    return values;
}

std::string LinearRegression::report() const {
    // Formatted in the default state too: the C library rounds the digits it
    // prints in the current rounding mode.
    const DefaultFloatingPointState guard;
    const StatisticValues values = report_values();
    std::ostringstream text;  // its own stream: the default format, whatever state std::cout is in
    text.imbue(std::locale::classic());
    for (std::size_t row = 0; row < values.size(); ++row) text << statistics[row].label << values[row] << '\n';
    return text.str();
}

// The write runs in the caller's state: it may run the caller's code.
void LinearRegression::summary() const { write_to_standard_output(report()); }

}  // namespace trendfit
