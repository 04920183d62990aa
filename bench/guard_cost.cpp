// What the floating-point state guard costs per call, in nanoseconds: the
// common case (the caller's state already the default) and the switching
// case (rounding upward), against <cfenv>'s save, default and restore.
//
//   g++ -std=c++17 -O2 -ffp-contract=off -I. bench/guard_cost.cpp model/floating_point_state.cpp -o guard_cost
//   ./guard_cost

#include <cfenv>
#include <chrono>
#include <cstdio>

#include "model/floating_point_state.hpp"

namespace {

volatile double sink;

template <typename Step>
double nanoseconds_per_call(Step step) {
    constexpr int calls = 2'000'000;
    double best = 1e30;
    for (int repeat = 0; repeat < 5; ++repeat) {
        const auto start = std::chrono::steady_clock::now();
        for (int i = 0; i < calls; ++i) step(i);
        const std::chrono::duration<double, std::nano> took = std::chrono::steady_clock::now() - start;
        if (took.count() / calls < best) best = took.count() / calls;
    }
    return best;
}

void report(const char* what) {
    const auto bare = [](int i) { sink = 1.0 / (i + 1.0); };
    const auto guarded = [](int i) {
        const trendfit::detail::DefaultFloatingPointState guard;
        sink = 1.0 / (i + 1.0);
    };
    const auto through_cfenv = [](int i) {
        std::fenv_t saved;
        std::fegetenv(&saved);
        std::fesetenv(FE_DFL_ENV);
        sink = 1.0 / (i + 1.0);
        std::fesetenv(&saved);
    };
    const double base = nanoseconds_per_call(bare);
    std::printf("%-26s guard %6.1f ns   fegetenv+fesetenv x2 %6.1f ns   (over the bare step)\n", what,
                nanoseconds_per_call(guarded) - base, nanoseconds_per_call(through_cfenv) - base);
}

}  // namespace

int main() {
    report("default state:");
    std::fesetround(FE_UPWARD);
    report("caller rounds upward:");
    std::fesetround(FE_TONEAREST);
    return 0;
}
