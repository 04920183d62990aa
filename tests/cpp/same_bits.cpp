// Prints the bits of every result of the model for the data sets that
// same_bits_data.py writes to standard input: every statistic, predictions
// one at a time and as a list, and the report. Builds for other processors
// and compilers must print exactly the same text.
//
// With an argument, the model is called with the thread in another
// floating-point state, as a caller may leave it: "ftz-daz", "upward",
// "downward", "toward-zero" or "traps" (invalid operation and division by
// zero). The output must not change. The state is entered only around the
// model's calls, since this program's own values include signalling NaNs,
// and after each call it must be the one entered. A state this processor
// cannot enter exits with status 77.

#include <cfenv>
#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <stdexcept>
#include <string>
#include <vector>

#include "model/linear_regression.hpp"
#include "model/statistics.hpp"
#include "tests/cpp/caller_state.hpp"

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

using trendfit::statistics;

// The state a caller has left the thread in, entered around each model call.
class CallerState {
public:
    explicit CallerState(const std::string& state_name) : name(state_name) {
        const int entered = caller_state_enter(name.c_str());
        if (entered < 0) throw std::runtime_error("unknown state " + name);
        if (entered == 0) {
            std::fprintf(stderr, "%s: this processor cannot enter that state\n", name.c_str());
            std::exit(77);
        }
        state = caller_state_control();
        caller_state_leave();
    }

    // Calls the model in the state. Outside the default state the model
    // switches to it and back, and must hand back the caller's exception
    // flags too: one raised inside and left set would fire its trap.
    template <typename Call>
    auto around(Call call) const {
        caller_state_enter(name.c_str());
        const int flags = std::fetestexcept(FE_ALL_EXCEPT);
        auto result = call();
        if (caller_state_control() != state) fail("a model call changed the floating-point state");
        if (name != "default" && std::fetestexcept(FE_ALL_EXCEPT) != flags) fail("a model call left flags raised");
        caller_state_leave();
        return result;
    }

private:
    [[noreturn]] void fail(const char* what) const {
        std::fprintf(stderr, "%s: %s\n", name.c_str(), what);
        std::exit(2);
    }

    std::string name;
    unsigned long long state = 0;
};

void print_results(std::size_t set, const LinearRegression& fit, double some_x, const CallerState& caller) {
    for (const auto& statistic : statistics)
        print(set, statistic.name, caller.around([&] { return (fit.*statistic.method)(); }));
    const double inf = std::numeric_limits<double>::infinity();
    const std::vector<double> probes = {
        0.0, -1.5, 1e9 + 0.5, some_x, from_bits(0x7ff4000000000123), from_bits(0xfff8000000000456), inf, -inf};
    for (const double v : probes) print(set, "predict_single", caller.around([&] { return fit.predict_single(v); }));
    for (const double p : caller.around([&] { return fit.predict(probes); })) print(set, "predict", p);
    caller.around([&] {
        fit.summary();
        return 0;
    });
}

}  // namespace

int main(int argc, char** argv) {
    const CallerState caller(argc > 1 ? argv[1] : "default");
    std::size_t sets = 0, n = 0;
    if (std::scanf("%zu", &sets) != 1) return 1;
    for (std::size_t set = 0; set < sets; ++set) {
        if (std::scanf("%zu", &n) != 1) return 1;
        const std::vector<double> x = read_values(n), y = read_values(n);
        const Layout x_layout(x, set % 3), y_layout(y, (set / 3) % 3);
        const LinearRegression fit = caller.around([&] { return LinearRegression(x_layout.view(), y_layout.view()); });
        print_results(set, fit, n > 0 ? x[n / 2] : 1.0, caller);
    }
    std::fflush(stdout);
    return 0;
}
