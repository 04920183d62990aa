// Prints the bits of every result of the model for the data sets that
// same_bits_data.py writes to standard input: every statistic, predictions
// one at a time and as a list, and the report. Builds for other processors
// and compilers must print exactly the same text.

#include <cinttypes>
#include <cstdio>
#include <cstring>
#include <stdexcept>
#include <limits>
#include <vector>

#include "model/linear_regression.hpp"
#include "tests/cpp/statistics.hpp"

namespace {

using trendfit::LinearRegression;

std::uint64_t bits_of(double value) {
    std::uint64_t bits;
    std::memcpy(&bits, &value, sizeof bits);
    return bits;
}

double from_bits(std::uint64_t bits) {
    double value;
    std::memcpy(&value, &bits, sizeof value);
    return value;
}

void print(std::size_t set, const char* what, double value) {
    std::printf("%zu %s %016" PRIx64 "\n", set, what, bits_of(value));
}

std::vector<double> read_values(std::size_t n) {
    std::vector<double> values(n);
    for (double& v : values) {
        std::uint64_t bits = 0;
        if (std::scanf("%" SCNx64, &bits) != 1) throw std::runtime_error("short data");
        v = from_bits(bits);
    }
    return values;
}

// The same values in one of three layouts: contiguous, every third element
// of a larger buffer, or reversed through a negative stride.
struct Layout {
    std::vector<double> buffer;
    std::ptrdiff_t shape, stride;
    const double* first;

    Layout(const std::vector<double>& values, std::size_t kind) : shape(std::ptrdiff_t(values.size())) {
        const std::size_t n = values.size();
        const std::size_t step = kind == 1 ? 3 : 1;
        buffer.assign(n * step, from_bits(0x7ff00000deadbeef));  // never read
        for (std::size_t i = 0; i < n; ++i) buffer[kind == 2 ? n - 1 - i : i * step] = values[i];
        stride = std::ptrdiff_t(sizeof(double)) * (kind == 2 ? -1 : std::ptrdiff_t(step));
        first = kind == 2 && n > 0 ? &buffer[n - 1] : buffer.data();
    }
    trendfit::DoubleArrayView view() const { return {first, 1, &shape, &stride}; }
};

using trendfit::testing::statistics;

void print_results(std::size_t set, const LinearRegression& fit, double some_x) {
    for (const auto& statistic : statistics) print(set, statistic.name, (fit.*statistic.value)());
    const double inf = std::numeric_limits<double>::infinity();
    const std::vector<double> probes = {0.0, -1.5, 1e9 + 0.5, some_x, from_bits(0x7ff4000000000123),
                                        from_bits(0xfff8000000000456), inf, -inf};
    for (const double v : probes) print(set, "predict_single", fit.predict_single(v));
    for (const double p : fit.predict(probes)) print(set, "predict", p);
    fit.summary();
}

}  // namespace

int main() {
    std::size_t sets = 0, n = 0;
    if (std::scanf("%zu", &sets) != 1) return 1;
    for (std::size_t set = 0; set < sets; ++set) {
        if (std::scanf("%zu", &n) != 1) return 1;
        const std::vector<double> x = read_values(n), y = read_values(n);
        const Layout x_layout(x, set % 3), y_layout(y, (set / 3) % 3);
        const LinearRegression fit(x_layout.view(), y_layout.view());
        print_results(set, fit, n > 0 ? x[n / 2] : 1.0);
    }
    std::fflush(stdout);
    return 0;
}
