#include "model/passes.hpp"

namespace trendfit::detail {
namespace {

// Keeps a pass out of line where, inlined into its caller beside its in-order
// twin, GCC no longer pairs independent accumulators in one vector register,
// which costs about 15% while the data is in cache.
#if defined(__GNUC__)
#define TRENDFIT_OUT_OF_LINE __attribute__((noinline))
#else
#define TRENDFIT_OUT_OF_LINE
#endif

// Whether a pass's result holds a NaN.
bool any_nan_in(double sum) { return std::isnan(sum); }
bool any_nan_in(const Moments& m) { return any_nan(m.mean_x, m.mean_y, m.sxx, m.syy, m.sxy); }
bool any_nan_in(const ResidualSums& sums) { return any_nan(sums.squares, sums.absolutes); }

// pass(AsCompiled{}) at full speed, and again as pass(InWrittenOrder{}) when
// its result holds a NaN, whose bits only the written order fixes.
template <typename Pass>
auto run_pass(Pass pass) {
    const auto result = pass(AsCompiled{});
    return any_nan_in(result) ? pass(InWrittenOrder{}) : result;
}

// Independent accumulators share a pass so that their dependency chains
// overlap, which changes no result.

template <typename Arithmetic>
double running_sum(Arithmetic, const Samples& v) {
    const double* p = v.data();
    const std::size_t n = v.size();
    double sum = 0.0;
    for (std::size_t i = 0; i < n; ++i) sum = Arithmetic::add(sum, p[i]);
    return sum;
}

// Sum of squared deviations from m, the second pass of a standard deviation.
template <typename Arithmetic>
double centred_sum_of_squares(Arithmetic, const Samples& v, double m) {
    const double* p = v.data();
    const std::size_t n = v.size();
    double sum = 0.0;
    for (std::size_t i = 0; i < n; ++i) {
        const double d = Arithmetic::sub(p[i], m);
        sum = Arithmetic::add(sum, Arithmetic::mul(d, d));
    }
    return sum;
}

template <typename Arithmetic>
TRENDFIT_OUT_OF_LINE Moments moments(Arithmetic, const Samples& x, const Samples& y) {
    const double* px = x.data();
    const double* py = y.data();
    const std::size_t n = x.size();

    double sum_x = 0.0, sum_y = 0.0;
    for (std::size_t i = 0; i < n; ++i) {
        sum_x = Arithmetic::add(sum_x, px[i]);
        sum_y = Arithmetic::add(sum_y, py[i]);
    }
    Moments m{n, Arithmetic::div(sum_x, count_as_double(n)), Arithmetic::div(sum_y, count_as_double(n)), 0.0, 0.0, 0.0};

    double sxx = 0.0, syy = 0.0, sxy = 0.0;
    for (std::size_t i = 0; i < n; ++i) {
        const double dx = Arithmetic::sub(px[i], m.mean_x);
        const double dy = Arithmetic::sub(py[i], m.mean_y);
        sxy = Arithmetic::add(sxy, Arithmetic::mul(dx, dy));
        sxx = Arithmetic::add(sxx, Arithmetic::mul(dx, dx));
        syy = Arithmetic::add(syy, Arithmetic::mul(dy, dy));
    }
    m.sxx = sxx;
    m.syy = syy;
    m.sxy = sxy;
    return m;
}

// n - k as an unsigned 64-bit count, then as a double: n < k wraps to about
// 2^64 rather than going negative.
double degrees_of_freedom(std::size_t n, std::uint64_t k) {
    return static_cast<double>(static_cast<std::uint64_t>(n) - k);
}

template <typename Arithmetic>
ResidualSums residual_sums(Arithmetic, const Samples& x, const Samples& y, const FittedLine& line) {
    const double* px = x.data();
    const double* py = y.data();
    const std::size_t n = y.size();
    double squares = 0.0, absolutes = 0.0;
    for (std::size_t i = 0; i < n; ++i) {
        const double e = Arithmetic::sub(line.at<Arithmetic>(px[i]), py[i]);
        squares = Arithmetic::add(squares, Arithmetic::mul(e, e));
        absolutes = Arithmetic::add(absolutes, std::fabs(e));
    }
    return ResidualSums{squares, absolutes};
}

}  // namespace

double mean_of(const Samples& v) {
    const double sum = run_pass([&](auto arithmetic) { return running_sum(arithmetic, v); });
    return InWrittenOrder::div(sum, count_as_double(v.size()));
}

Moments moments_of(const Samples& x, const Samples& y) {
    return run_pass([&](auto arithmetic) { return moments(arithmetic, x, y); });
}

double root_mean_square(double sum_of_squares, std::size_t n, std::uint64_t k) {
    const double divisor = n == 0 ? 0.0 : degrees_of_freedom(n, k);
    return InWrittenOrder::sqrt(InWrittenOrder::div(sum_of_squares, divisor));
}

double sample_std(double sum_of_squares, std::size_t n) { return root_mean_square(sum_of_squares, n, 1); }

double std_of(const Samples& v) {
    const double mean = mean_of(v);
    const double sum = run_pass([&](auto arithmetic) { return centred_sum_of_squares(arithmetic, v, mean); });
    return sample_std(sum, v.size());
}

double correlation(const Moments& m) {
    return InWrittenOrder::div(m.sxy, InWrittenOrder::sqrt(InWrittenOrder::mul(m.sxx, m.syy)));
}

// The slope is (std_y / std_x) * r and the line passes through the means.
FittedLine line_of(const Moments& m) {
    const double ratio = InWrittenOrder::div(sample_std(m.syy, m.n), sample_std(m.sxx, m.n));
    const double slope = InWrittenOrder::mul(ratio, correlation(m));
    return FittedLine{slope, InWrittenOrder::sub(m.mean_y, InWrittenOrder::mul(m.mean_x, slope))};
}

Fit fit_of(const Samples& x, const Samples& y) {
    const Moments m = moments_of(x, y);
    const FittedLine line = line_of(m);
    const ResidualSums residuals = run_pass([&](auto arithmetic) { return residual_sums(arithmetic, x, y, line); });
    return Fit{m, line, residuals};
}

}  // namespace trendfit::detail
