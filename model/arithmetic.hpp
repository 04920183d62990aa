#pragma once

// Which NaN a result carries, and the two ways of doing arithmetic that the
// passes are written against.

#include <cfloat>
#include <cmath>
#include <cstdint>
#include <cstring>

// x87 arithmetic keeps intermediate results in extended precision, so the
// same data would give other bits than on every other machine.
#if !defined(FLT_EVAL_METHOD) || FLT_EVAL_METHOD != 0
#error "trendfit needs every operation rounded to double: on 32-bit x86, build with SSE2 (-msse2 -mfpmath=sse)"
#endif

namespace trendfit::detail {

// Which NaN a result carries.
//
// IEEE 754 leaves open which NaN an operation returns, and processors differ:
// x86 and ARM return the first NaN operand quieted, but compilers swap the
// operands of + and * at will; RISC-V drops every payload; and a NaN made
// from numbers (0/0, inf - inf, 0 * inf) is negative on x86 but positive on
// ARM, POWER, s390x and RISC-V. InWrittenOrder fixes the bits on every build:
// the first NaN operand in written order, quieted, or, when no operand is
// NaN, x86's default NaN. It computes each operation as usual and looks at
// the operands only when the result is NaN, so a number costs one compare.
// Passes run AsCompiled, at full speed, and are run again InWrittenOrder only
// when a result is NaN: a result that is not NaN met no NaN on its way, and
// then which NaN an operation would give cannot matter. The few operations
// on a pass's results use InWrittenOrder directly.

struct AsCompiled {
    static double add(double a, double b) { return a + b; }
    static double sub(double a, double b) { return a - b; }
    static double mul(double a, double b) { return a * b; }
    static double div(double a, double b) { return a / b; }
};

struct InWrittenOrder {
    static double from_bits(std::uint64_t bits) {
        double value;
        std::memcpy(&value, &bits, sizeof value);
        return value;
    }
    static double quieted(double nan) {
        std::uint64_t bits;
        std::memcpy(&bits, &nan, sizeof bits);
        return from_bits(bits | std::uint64_t(1) << 51);  // the quiet bit
    }
    // The result of an operation on a and b, or, if that is NaN, the NaN
    // every processor is to give for it.
    static double fixed(double result, double a, double b) {
        if (!std::isnan(result)) return result;
        if (std::isnan(a)) return quieted(a);
        if (std::isnan(b)) return quieted(b);
        return from_bits(0xfff8000000000000);  // the default NaN, sign bit set
    }
    static double add(double a, double b) { return fixed(a + b, a, b); }
    static double sub(double a, double b) { return fixed(a - b, a, b); }
    static double mul(double a, double b) { return fixed(a * b, a, b); }
    static double div(double a, double b) { return fixed(a / b, a, b); }
    static double sqrt(double a) { return fixed(std::sqrt(a), a, a); }
};

template <typename... Results>
bool any_nan(Results... results) {
    return (std::isnan(results) || ...);
}

}  // namespace trendfit::detail
