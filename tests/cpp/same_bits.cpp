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
#include <stdexcept>
#include <limits>
#include <string>
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

// The thread's floating-point control state, as one number to compare.
std::uint64_t control_state() {
#if (defined(__x86_64__) || defined(__i386__)) && defined(__GNUC__)
    std::uint32_t mxcsr;
    std::uint16_t x87;
    __asm__ __volatile__("stmxcsr %0" : "=m"(mxcsr));
    __asm__ __volatile__("fnstcw %0" : "=m"(x87));
    return (mxcsr & 0xffc0) | std::uint64_t(x87) << 32;
#elif defined(__aarch64__) && defined(__GNUC__)
    std::uint64_t fpcr;
    __asm__ __volatile__("mrs %0, fpcr" : "=r"(fpcr));
    return fpcr;
#else
    return std::uint64_t(unsigned(std::fegetround())) | std::uint64_t(unsigned(fegetexcept())) << 32;
#endif
}

// Flush-to-zero (and denormals-are-zero where it is a bit of its own) on or off.
void set_flush_to_zero(bool on) {
#if (defined(__x86_64__) || defined(__i386__)) && defined(__GNUC__)
    std::uint32_t mxcsr;
    __asm__ __volatile__("stmxcsr %0" : "=m"(mxcsr));
    mxcsr = on ? mxcsr | 0x8040 : mxcsr & ~0x8040u;
    __asm__ __volatile__("ldmxcsr %0" : : "m"(mxcsr));
#elif defined(__aarch64__) && defined(__GNUC__)
    std::uint64_t fpcr;
    __asm__ __volatile__("mrs %0, fpcr" : "=r"(fpcr));
    const std::uint64_t fz = std::uint64_t(1) << 24;  // flushes inputs and results
    fpcr = on ? fpcr | fz : fpcr & ~fz;
    __asm__ __volatile__("msr fpcr, %0" : : "r"(fpcr));
#else
    (void)on;  // no such mode, or none this program knows how to set
#endif
}

// Whether a subnormal input or result is flushed to zero now.
bool flushes_subnormals() {
    volatile double subnormal = 1e-310, one = 1.0;
    return subnormal * one == 0.0;
}

// The state a caller has left the thread in, entered around each model call.
class CallerState {
public:
    explicit CallerState(const std::string& state_name) : name(state_name) {
        enter();
        if (!entered()) {
            std::fprintf(stderr, "%s: this processor cannot enter that state\n", name.c_str());
            std::exit(77);
        }
        state = control_state();
        leave();
    }

    template <typename Call>
    auto around(Call call) const {
        enter();
        auto result = call();
        if (control_state() != state) {
            std::fprintf(stderr, "%s: a model call changed the floating-point state\n", name.c_str());
            std::exit(2);
        }
        leave();
        return result;
    }

private:
    void enter() const {
        if (name == "ftz-daz") set_flush_to_zero(true);
        else if (name == "upward") std::fesetround(FE_UPWARD);
        else if (name == "downward") std::fesetround(FE_DOWNWARD);
        else if (name == "toward-zero") std::fesetround(FE_TOWARDZERO);
        else if (name == "traps") feenableexcept(FE_INVALID | FE_DIVBYZERO);
        else if (name != "default") throw std::runtime_error("unknown state " + name);
    }
    bool entered() const {
        if (name == "ftz-daz") return flushes_subnormals();
        if (name == "upward") return std::fegetround() == FE_UPWARD;
        if (name == "downward") return std::fegetround() == FE_DOWNWARD;
        if (name == "toward-zero") return std::fegetround() == FE_TOWARDZERO;
        if (name == "traps") return fegetexcept() == (FE_INVALID | FE_DIVBYZERO);
        return true;
    }
    // Back to the default state, flags cleared, for this program's own work.
    void leave() const {
        std::fesetenv(FE_DFL_ENV);
        set_flush_to_zero(false);
    }

    std::string name;
    std::uint64_t state = 0;
};

void print_results(std::size_t set, const LinearRegression& fit, double some_x, const CallerState& caller) {
    for (const auto& statistic : statistics)
        print(set, statistic.name, caller.around([&] { return (fit.*statistic.value)(); }));
    const double inf = std::numeric_limits<double>::infinity();
    const std::vector<double> probes = {0.0, -1.5, 1e9 + 0.5, some_x, from_bits(0x7ff4000000000123),
                                        from_bits(0xfff8000000000456), inf, -inf};
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
