// Checks that each value of the report, from shared passes, has the bits of
// its own method, NaN signs and payloads included; prints any that differs.

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <limits>
#include <vector>

#include "model/linear_regression.hpp"
#include "model/statistics.hpp"

using trendfit::LinearRegression;
using trendfit::statistics;

static std::uint64_t bits_of(double value) {
    std::uint64_t bits;
    std::memcpy(&bits, &value, sizeof bits);
    return bits;
}

int main() {
    const double inf = std::numeric_limits<double>::infinity(), a = -std::numeric_limits<double>::quiet_NaN();
    double b;  // a signalling NaN with a payload of its own
    const std::uint64_t b_bits = 0x7ff4000000000456;
    std::memcpy(&b, &b_bits, sizeof b);
    const std::vector<std::vector<double>> sets[] = {{{}, {}},
                                                     {{2.0}, {3.0}},
                                                     {{0.1, 0.7}, {0.9, 0.3}},
                                                     {{0.1, 0.1, 0.1}, {1.0, 2.0, 4.0}},
                                                     {{1e100, 2e100, 3e100}, {1e100, 2e100, 3e100}},
                                                     {{1.0, a, 3.0, 4.0}, {2.0, 1.0, b, 5.0}},
                                                     {{b, 2.0, a, 4.0}, {1.0, b, 3.0, -a}},
                                                     {{1.0, 2.0, inf, 4.0}, {a, 1.0, 2.0, -inf}},
                                                     {{-inf, 2.0, inf, 4.0}, {1.0, 2.0, 3.0, 4.0}},
                                                     {{1.0, 2.0, 3.0, 4.0}, {-b, inf, 1.0, -inf}}};
    int differences = 0;
    for (const auto& set : sets) {
        const std::ptrdiff_t shape[] = {static_cast<std::ptrdiff_t>(set[0].size())}, strides[] = {sizeof(double)};
        const LinearRegression fit({set[0].data(), 1, shape, strides}, {set[1].data(), 1, shape, strides});
        const trendfit::StatisticValues values = fit.report_values();
        for (std::size_t row = 0; row < values.size(); ++row) {
            const double own = (fit.*statistics[row].method)();
            if (bits_of(values[row]) == bits_of(own)) continue;
            std::printf("data set %td, %s: %016llx, its method %016llx\n", &set - sets, statistics[row].name,
                        static_cast<unsigned long long>(bits_of(values[row])),
                        static_cast<unsigned long long>(bits_of(own)));
            ++differences;
        }
    }
    return differences == 0 ? 0 : 1;
}
