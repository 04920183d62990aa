// Writes the report after other code has changed std::cout's formatting
// state, then prints that state to stderr so the caller can check that the
// report left it as it found it.

#include <iomanip>
#include <iostream>
#include <locale>

#include "model/linear_regression.hpp"

namespace {

// A locale that writes 1234.5 as "1.234,5", like many European locales.
struct CommaDecimal : std::numpunct<char> {
    char do_decimal_point() const override { return ','; }
    char do_thousands_sep() const override { return '.'; }
    std::string do_grouping() const override { return "\3"; }
};

trendfit::LinearRegression five_points() {
    static const double x[] = {1.0, 2.0, 3.0, 4.0, 5.0};
    static const double y[] = {2.0, 4.0, 5.0, 4.0, 5.0};
    static const std::ptrdiff_t shape[] = {5};
    static const std::ptrdiff_t strides[] = {sizeof(double)};
    return trendfit::LinearRegression({x, 1, shape, strides}, {y, 1, shape, strides});
}

}  // namespace

int main() {
    std::cout.imbue(std::locale(std::locale::classic(), new CommaDecimal));
    std::cout << std::scientific << std::showpos << std::showpoint << std::uppercase << std::setprecision(2)
              << std::setfill('*') << std::left;
    std::cout.width(30);

    five_points().summary();

    std::cerr << "precision=" << std::cout.precision() << " width=" << std::cout.width() << " fill=" << std::cout.fill()
              << " scientific=" << bool(std::cout.flags() & std::ios::scientific)
              << " showpos=" << bool(std::cout.flags() & std::ios::showpos)
              << " decimal=" << std::use_facet<std::numpunct<char>>(std::cout.getloc()).decimal_point() << "\n";
    return 0;
}
