// Switching to the default floating-point state and back: the rare case,
// when the caller left the processor in another one.

#include "model/floating_point_state.hpp"

namespace trendfit::detail {

#if TRENDFIT_FP_X86

namespace {

// The x87 environment as fnstenv stores it (28 bytes in 32-bit and 64-bit
// mode alike): control word, status word, tag word, then the last
// instruction and operand pointers.
struct X87Environment {
    std::uint16_t control, reserved0;
    std::uint16_t status, reserved1;
    std::uint32_t rest[5];
};

// Status word bits that hold the exception flags (0-5), the stack fault (6),
// the error summary (7) and its copy, the busy bit (15).
constexpr std::uint16_t x87_flag_bits = 0x80ff;

void set_mxcsr(std::uint32_t value) { __asm__ __volatile__("ldmxcsr %0" : : "m"(value) : "memory"); }
void set_x87_control(std::uint16_t value) { __asm__ __volatile__("fldcw %0" : : "m"(value) : "memory"); }

}  // namespace

void DefaultFloatingPointState::enter_default() {
    __asm__ __volatile__("fnstsw %0" : "=m"(x87_status) : : "memory");
    set_mxcsr(mxcsr_default | (mxcsr & ~mxcsr_control_bits));
    set_x87_control(static_cast<std::uint16_t>((x87_control & ~x87_compared_bits) | x87_default));
    switched = true;
}

void DefaultFloatingPointState::leave() {
    // MXCSR at once: flags and control together. SSE traps fire only on an
    // instruction that raises, never on loading the register.
    set_mxcsr(mxcsr);
    // An x87 flag raised inside would fire at the next x87 instruction once
    // its trap is enabled again, so the status word goes back to the
    // caller's flags in the same load as the control word. fldenv rewrites
    // the tag word too: it gets back the one just stored, which matches the
    // registers as they are.
    X87Environment environment;
    __asm__ __volatile__("fnstenv %0" : "=m"(environment) : : "memory");
    environment.status =
        static_cast<std::uint16_t>((environment.status & ~x87_flag_bits) | (x87_status & x87_flag_bits));
    environment.control = x87_control;
    __asm__ __volatile__("fldenv %0" : : "m"(environment) : "memory");
}

#elif TRENDFIT_FP_AARCH64

namespace {

std::uint64_t read_fpsr() {
    std::uint64_t value;
    __asm__ __volatile__("mrs %0, fpsr" : "=r"(value) : : "memory");
    return value;
}
void set_fpsr(std::uint64_t value) { __asm__ __volatile__("msr fpsr, %0" : : "r"(value) : "memory"); }
void set_fpcr(std::uint64_t value) { __asm__ __volatile__("msr fpcr, %0" : : "r"(value) : "memory"); }

}  // namespace

void DefaultFloatingPointState::enter_default() {
    fpsr = read_fpsr();
    set_fpcr(fpcr & ~fpcr_compared_bits);
    switched = true;
}

void DefaultFloatingPointState::leave() {
    set_fpsr(fpsr);  // the caller's flags, before the trap enables
    set_fpcr(fpcr);
}

#else

void DefaultFloatingPointState::enter_default() {
    if (std::fegetenv(&environment) != 0) return;  // cannot be restored: leave the state alone
    std::fesetenv(FE_DFL_ENV);
    switched = true;
}

void DefaultFloatingPointState::leave() {
    // The flags raised inside go first: on POWER, a trap enabled while its
    // flag is set fires at once. fesetenv, not feupdateenv, which would
    // raise them again.
    std::feclearexcept(FE_ALL_EXCEPT);
    std::fesetenv(&environment);
}

#endif

}  // namespace trendfit::detail
