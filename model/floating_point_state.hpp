#pragma once

// The floating-point state every computation of the model runs in.
//
// Other code in the process can leave the calling thread's floating-point
// unit in another state: a library built with fast-math switches on
// flush-to-zero when it is loaded, numerical code sets rounding modes,
// debugging code enables traps. Each of these changes results (and the text
// the C library formats numbers into), or ends the process with SIGFPE on
// data that should give NaN. DefaultFloatingPointState puts the IEEE 754
// default in place for one scope - round to nearest even, subnormals kept,
// every exception masked - and hands the caller's state back when the scope
// ends, by return or by exception.
//
// Only the control bits decide: the caller's exception flags do not make the
// state "not default". When the state is already the default, as it almost
// always is, the guard reads the control registers once and changes nothing
// (exception flags raised inside stay raised, as after any libm call).
// Otherwise it switches to the default and, on leaving, puts back the
// caller's exception flags as they were on entry - clearing those raised
// inside before the caller's trap enables return, so that none fires - and
// then the caller's control state.
//
// What is read, per processor:
// - x86-64 and 32-bit x86: MXCSR (SSE rounding, flush-to-zero,
//   denormals-are-zero, exception masks) and the x87 control word (its
//   rounding, which glibc's printf follows, and its exception masks: on
//   32-bit x86 a double returned from a function passes through the x87
//   stack). The x87 precision control is left alone: no arithmetic is done
//   on the x87 unit.
// - AArch64: FPCR (rounding, flush-to-zero, default NaN, trap enables);
//   FPSR holds the flags.
// - Anything else: <cfenv>'s rounding mode and, where the C library has
//   fegetexcept (glibc), the enabled traps; the switch is fesetenv with the
//   default environment. Flush-to-zero-like modes these do not show (POWER's
//   FPSCR.NI) are reset only when a rounding mode or a trap is also non-default.

#include <cstdint>

#if (defined(__x86_64__) || defined(__i386__)) && defined(__GNUC__)
#define TRENDFIT_FP_X86 1
#elif defined(__aarch64__) && defined(__GNUC__)
#define TRENDFIT_FP_AARCH64 1
#else
#include <cfenv>
#define TRENDFIT_FP_CFENV 1
#endif

namespace trendfit::detail {

class DefaultFloatingPointState {
public:
    DefaultFloatingPointState() {
        read_control();
        if (!control_is_default()) enter_default();
    }
    ~DefaultFloatingPointState() {
        if (switched) leave();
    }
    DefaultFloatingPointState(const DefaultFloatingPointState&) = delete;
    DefaultFloatingPointState& operator=(const DefaultFloatingPointState&) = delete;

private:
    void read_control();
    bool control_is_default() const;
    void enter_default();  // out of line: the rare case
    void leave();

    bool switched = false;
#if TRENDFIT_FP_X86
    std::uint32_t mxcsr = 0;
    std::uint16_t x87_control = 0;
    std::uint16_t x87_status = 0;  // the caller's x87 flags, read only when switching
#elif TRENDFIT_FP_AARCH64
    std::uint64_t fpcr = 0;
    std::uint64_t fpsr = 0;  // the caller's flags, read only when switching
#else
    int rounding = 0;
    int traps = 0;
    std::fenv_t environment{};  // read only when switching
#endif
};

#if TRENDFIT_FP_X86
// MXCSR: bits 0-5 flags, 6 denormals-are-zero, 7-12 masks, 13-14 rounding,
// 15 flush-to-zero. Default: everything masked, nothing else.
inline constexpr std::uint32_t mxcsr_control_bits = 0xffc0;
inline constexpr std::uint32_t mxcsr_default = 0x1f80;
// x87 control word: bits 0-5 masks, 10-11 rounding (the precision control,
// bits 8-9, is not compared).
inline constexpr std::uint16_t x87_compared_bits = 0x0c3f;
inline constexpr std::uint16_t x87_default = 0x003f;

// The asm statements clobber memory so that no load of the samples, and so
// no computation on them, moves across them.
inline void DefaultFloatingPointState::read_control() {
    __asm__ __volatile__("stmxcsr %0" : "=m"(mxcsr) : : "memory");
    __asm__ __volatile__("fnstcw %0" : "=m"(x87_control) : : "memory");
}
inline bool DefaultFloatingPointState::control_is_default() const {
    return (mxcsr & mxcsr_control_bits) == mxcsr_default && (x87_control & x87_compared_bits) == x87_default;
}
#elif TRENDFIT_FP_AARCH64
// FPCR bits that change results or trap: FIZ, AH, NEP (0-2), the trap
// enables IOE..IXE (8-12) and IDE (15), rounding (22-23), FZ (24), DN (25).
// FZ16 and AHP concern half precision only.
inline constexpr std::uint64_t fpcr_compared_bits = 0x03c09f07;

inline void DefaultFloatingPointState::read_control() {
    __asm__ __volatile__("mrs %0, fpcr" : "=r"(fpcr) : : "memory");
}
inline bool DefaultFloatingPointState::control_is_default() const { return (fpcr & fpcr_compared_bits) == 0; }
#else
inline void DefaultFloatingPointState::read_control() {
    rounding = std::fegetround();
#if defined(__GLIBC__)
    traps = fegetexcept();
#endif
}
inline bool DefaultFloatingPointState::control_is_default() const { return rounding == FE_TONEAREST && traps == 0; }
#endif

// The value of `result`, computed before the guard of the enclosing scope
// restores the caller's state: the compiler may not move the last
// operations of a computation past the restore.
template <typename Value>
inline Value computed_here(Value result) {
#if defined(__GNUC__)
    __asm__ __volatile__("" : "+m"(result) : : "memory");
#endif
    return result;
}

// Runs compute() in the default floating-point state and returns its result.
template <typename Compute>
auto in_default_state(Compute compute) {
    const DefaultFloatingPointState guard;
    return computed_here(compute());
}

}  // namespace trendfit::detail
