#include "tests/cpp/caller_state.hpp"

#include <cfenv>
#include <cstdint>
#include <cstring>

namespace {

#if (defined(__x86_64__) || defined(__i386__)) && defined(__GNUC__)
#define CALLER_STATE_X86 1
#elif defined(__aarch64__) && defined(__GNUC__)
#define CALLER_STATE_AARCH64 1
#endif

// Flush-to-zero (and denormals-are-zero where that is a bit of its own) on
// or off; nothing where this file knows no such mode.
void set_flush_to_zero(bool on) {
#if CALLER_STATE_X86
    std::uint32_t mxcsr;
    __asm__ __volatile__("stmxcsr %0" : "=m"(mxcsr));
    mxcsr = on ? mxcsr | 0x8040u : mxcsr & ~0x8040u;
    __asm__ __volatile__("ldmxcsr %0" : : "m"(mxcsr));
#elif CALLER_STATE_AARCH64
    std::uint64_t fpcr;
    __asm__ __volatile__("mrs %0, fpcr" : "=r"(fpcr));
    const std::uint64_t fz = std::uint64_t(1) << 24;  // flushes inputs and results
    fpcr = on ? fpcr | fz : fpcr & ~fz;
    __asm__ __volatile__("msr fpcr, %0" : : "r"(fpcr));
#else
    (void)on;
#endif
}

// Whether a subnormal input or result is flushed to zero now.
bool flushes_subnormals() {
    volatile double subnormal = 1e-310, one = 1.0;
    return subnormal * one == 0.0;
}

int enter_rounding(int mode) { return std::fesetround(mode) == 0 && std::fegetround() == mode; }

int enter_traps() {
    const int traps = FE_INVALID | FE_DIVBYZERO;
    feenableexcept(traps);
    return fegetexcept() == traps;
}

int enter(const char* name) {
    if (std::strcmp(name, "default") == 0) return 1;
    if (std::strcmp(name, "ftz-daz") == 0) {
        set_flush_to_zero(true);
        return flushes_subnormals();
    }
    if (std::strcmp(name, "upward") == 0) return enter_rounding(FE_UPWARD);
    if (std::strcmp(name, "downward") == 0) return enter_rounding(FE_DOWNWARD);
    if (std::strcmp(name, "toward-zero") == 0) return enter_rounding(FE_TOWARDZERO);
    if (std::strcmp(name, "traps") == 0) return enter_traps();
    return -1;
}

}  // namespace

extern "C" int caller_state_enter(const char* name) {
    const int entered = enter(name);
    if (entered != 1) caller_state_leave();
    return entered;
}

extern "C" void caller_state_leave(void) {
    std::fesetenv(FE_DFL_ENV);
    set_flush_to_zero(false);
}

extern "C" unsigned long long caller_state_control(void) {
#if CALLER_STATE_X86
    std::uint32_t mxcsr;
    std::uint16_t x87;
    __asm__ __volatile__("stmxcsr %0" : "=m"(mxcsr));
    __asm__ __volatile__("fnstcw %0" : "=m"(x87));
    return (mxcsr & 0xffc0u) | static_cast<unsigned long long>(x87) << 32;
#elif CALLER_STATE_AARCH64
    std::uint64_t fpcr;
    __asm__ __volatile__("mrs %0, fpcr" : "=r"(fpcr));
    return fpcr;
#else
    return static_cast<unsigned>(std::fegetround()) | static_cast<unsigned long long>(unsigned(fegetexcept())) << 32;
#endif
}
