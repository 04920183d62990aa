#include "model/linear_regression.hpp"

#include <cerrno>
#include <cfloat>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <limits>
#include <locale>
#include <mutex>
#include <sstream>
#include <stdexcept>
#include <string>
#include <system_error>

#if defined(__linux__)
#include <sys/mman.h>
#endif
#if defined(_WIN32)
#include <io.h>
#else
#include <pthread.h>
#include <unistd.h>
#endif

// x87 arithmetic keeps intermediate results in extended precision, so the
// same data would give other bits than on every other machine.
#if !defined(FLT_EVAL_METHOD) || FLT_EVAL_METHOD != 0
#error "trendfit needs every operation rounded to double: on 32-bit x86, build with SSE2 (-msse2 -mfpmath=sse)"
#endif

namespace trendfit {
namespace {

// ---------------------------------------------------------------------------
// Copying the input arrays

std::size_t element_count(const DoubleArrayView& array) {
    std::size_t count = 1;  // a zero-dimensional array holds one element
    for (std::size_t d = 0; d < array.ndim; ++d) {
        const auto extent = static_cast<std::size_t>(array.shape[d]);
        if (extent == 0) return 0;
        if (count > std::numeric_limits<std::size_t>::max() / extent)
            throw std::length_error("array has too many elements");
        count *= extent;
    }
    return count;
}

bool is_row_major_contiguous(const DoubleArrayView& array) {
    std::ptrdiff_t expected = sizeof(double);
    for (std::size_t d = array.ndim; d-- > 0;) {
        // A dimension of extent 1 is never stepped over, so its stride is free.
        if (array.shape[d] != 1 && array.strides[d] != expected) return false;
        expected *= array.shape[d];
    }
    return true;
}

double load_double(const char* address) {
    double value;  // memcpy: the array may be unaligned
    std::memcpy(&value, address, sizeof value);
    return value;
}

// Appends the elements of a non-empty, non-contiguous array in row-major
// order, visiting each row of the last dimension through the strides.
void append_strided(const DoubleArrayView& array, Samples& out) {
    const auto* base = static_cast<const char*>(array.data);
    if (array.ndim == 0) {
        out.push_back(load_double(base));
        return;
    }
    const std::size_t last = array.ndim - 1;
    const std::ptrdiff_t row_length = array.shape[last];
    const std::ptrdiff_t step = array.strides[last];
    std::vector<std::ptrdiff_t> index(last, 0);  // position in the outer dimensions
    for (;;) {
        const char* row = base;
        for (std::size_t d = 0; d < last; ++d) row += index[d] * array.strides[d];
        for (std::ptrdiff_t j = 0; j < row_length; ++j) out.push_back(load_double(row + j * step));

        std::size_t d = last;
        while (d > 0 && ++index[d - 1] == array.shape[d - 1]) index[--d] = 0;
        if (d == 0) return;
    }
}

void append_elements(const DoubleArrayView& array, std::size_t count, Samples& out) {
    if (count == 0) return;  // nothing to read, not even the data pointer
    if (is_row_major_contiguous(array)) {
        const std::size_t start = out.size();
        out.resize(start + count);  // within the reserved capacity, not zero-filled
        std::memcpy(out.data() + start, array.data, count * sizeof(double));  // one straight run
    } else {
        append_strided(array, out);
    }
}

// ---------------------------------------------------------------------------
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

// Keeps a pass out of line where, inlined into its caller beside its in-order
// twin, GCC no longer pairs independent accumulators in one vector register,
// which costs about 15% while the data is in cache.
#if defined(__GNUC__)
#define TRENDFIT_OUT_OF_LINE __attribute__((noinline))
#elif defined(_MSC_VER)
#define TRENDFIT_OUT_OF_LINE __declspec(noinline)
#else
#define TRENDFIT_OUT_OF_LINE
#endif

template <typename... Results>
bool any_nan(Results... results) {
    return (std::isnan(results) || ...);
}

// ---------------------------------------------------------------------------
// Sums. Each accumulator starts at 0.0 and adds one rounded term at a time in
// increasing index order; independent accumulators share a pass so their
// dependency chains overlap, which changes no result.

template <typename Arithmetic>
double running_sum_as(const Samples& v) {
    const double* p = v.data();
    const std::size_t n = v.size();
    double sum = 0.0;
    for (std::size_t i = 0; i < n; ++i) sum = Arithmetic::add(sum, p[i]);
    return sum;
}

double running_sum(const Samples& v) {
    const double sum = running_sum_as<AsCompiled>(v);
    return any_nan(sum) ? running_sum_as<InWrittenOrder>(v) : sum;
}

double count_as_double(std::size_t n) { return static_cast<double>(static_cast<std::uint64_t>(n)); }

double mean_of(const Samples& v) { return InWrittenOrder::div(running_sum(v), count_as_double(v.size())); }

// Sum of squared deviations from m, the second pass of a standard deviation.
template <typename Arithmetic>
double centred_sum_of_squares_as(const Samples& v, double m) {
    const double* p = v.data();
    const std::size_t n = v.size();
    double sum = 0.0;
    for (std::size_t i = 0; i < n; ++i) {
        const double d = Arithmetic::sub(p[i], m);
        sum = Arithmetic::add(sum, Arithmetic::mul(d, d));
    }
    return sum;
}

double centred_sum_of_squares(const Samples& v, double m) {
    const double sum = centred_sum_of_squares_as<AsCompiled>(v, m);
    return any_nan(sum) ? centred_sum_of_squares_as<InWrittenOrder>(v, m) : sum;
}

// Means of both sequences and the centred sums Sxx, Syy, Sxy: two passes.
struct Moments {
    std::size_t n;
    double mean_x, mean_y;
    double sxx, syy, sxy;
};

template <typename Arithmetic>
TRENDFIT_OUT_OF_LINE Moments moments_as(const Samples& x, const Samples& y) {
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

Moments moments_of(const Samples& x, const Samples& y) {
    const Moments m = moments_as<AsCompiled>(x, y);
    return any_nan(m.mean_x, m.mean_y, m.sxx, m.syy, m.sxy) ? moments_as<InWrittenOrder>(x, y) : m;
}

// n - k as an unsigned 64-bit count, then as a double: n < k wraps to about
// 2^64 rather than going negative.
double degrees_of_freedom(std::size_t n, std::uint64_t k) {
    return static_cast<double>(static_cast<std::uint64_t>(n) - k);
}

// sqrt(sum_of_squares / (n - k)). With no data there is no spread or error
// to report: n = 0 divides by n itself (0/0, NaN like every other statistic
// of no data) instead of by the wrapped n - k, which would give +0.0.
double root_mean_square(double sum_of_squares, std::size_t n, std::uint64_t k) {
    const double divisor = n == 0 ? 0.0 : degrees_of_freedom(n, k);
    return InWrittenOrder::sqrt(InWrittenOrder::div(sum_of_squares, divisor));
}

double sample_std(double sum_of_squares, std::size_t n) { return root_mean_square(sum_of_squares, n, 1); }

double std_of(const Samples& v) { return sample_std(centred_sum_of_squares(v, mean_of(v)), v.size()); }

double correlation(const Moments& m) {
    return InWrittenOrder::div(m.sxy, InWrittenOrder::sqrt(InWrittenOrder::mul(m.sxx, m.syy)));
}

struct Line {
    double slope;
    double intercept;

    // intercept + (slope * v), in that order, exactly as predict_single.
    template <typename Arithmetic = InWrittenOrder>
    double at(double v) const {
        return Arithmetic::add(intercept, Arithmetic::mul(slope, v));
    }
};

// The slope is (std_y / std_x) * r and the line passes through the means.
Line line_of(const Moments& m) {
    const double ratio = InWrittenOrder::div(sample_std(m.syy, m.n), sample_std(m.sxx, m.n));
    const double slope = InWrittenOrder::mul(ratio, correlation(m));
    return Line{slope, InWrittenOrder::sub(m.mean_y, InWrittenOrder::mul(m.mean_x, slope))};
}

// The residuals e_i = p_i - y_i of the predictions at the stored x, summed
// as squares and as absolute values in one pass.
struct ResidualSums {
    double squares;
    double absolutes;
};

template <typename Arithmetic>
ResidualSums residual_sums_as(const Samples& x, const Samples& y, const Line& line) {
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

ResidualSums residual_sums(const Samples& x, const Samples& y, const Line& line) {
    const ResidualSums sums = residual_sums_as<AsCompiled>(x, y, line);
    return any_nan(sums.squares, sums.absolutes) ? residual_sums_as<InWrittenOrder>(x, y, line) : sums;
}

// Everything the fit measures need: three passes in all.
struct Fit {
    Moments moments;
    Line line;
    ResidualSums residuals;

    double rmse() const {
        return InWrittenOrder::sqrt(InWrittenOrder::div(residuals.squares, count_as_double(moments.n)));
    }
    double mae() const { return InWrittenOrder::div(residuals.absolutes, count_as_double(moments.n)); }
    // Syy is the total sum of squares.
    double r_squared() const {
        return InWrittenOrder::sub(1.0, InWrittenOrder::div(residuals.squares, moments.syy));
    }
    double residual_std_error() const { return root_mean_square(residuals.squares, moments.n, 2); }
    double slope_standard_error() const {
        return InWrittenOrder::div(residual_std_error(), InWrittenOrder::sqrt(moments.sxx));
    }
    double t_value_slope() const { return InWrittenOrder::div(line.slope, slope_standard_error()); }
};

Fit fit_of(const Samples& x, const Samples& y) {
    const Moments m = moments_of(x, y);
    const Line line = line_of(m);
    return Fit{m, line, residual_sums(x, y, line)};
}

// ---------------------------------------------------------------------------
// The report

constexpr std::array<const char*, 13> report_labels = {
    "Mean(X): ", "Mean(Y): ", "Pearson correlation: ", "Std(X): ", "Std(Y): ", "Slope: ", "Intercept: ",
    "RMSE: ", "MAE: ", "R\xC2\xB2: ",  // UTF-8 "R²: "
    "Residual Std Error: ", "Slope Std Error: ", "t-value (slope): ",
};

// Held while a text goes to standard output, so that two never interleave.
std::mutex standard_output_lock;

#if !defined(_WIN32)
// A process forked while another thread writes would inherit the lock held
// by a thread that does not exist in the child, and hang at its first report:
// the child starts with a fresh lock instead.
void renew_standard_output_lock() { new (&standard_output_lock) std::mutex; }
[[maybe_unused]] const int renewed_after_fork = pthread_atfork(nullptr, nullptr, &renew_standard_output_lock);
#endif

[[noreturn]] void fail_to_write(int error) {
    std::clearerr(stdout);  // so that a later report can write again
    throw std::system_error(error != 0 ? error : EIO, std::generic_category(),
                            "summary could not write the report to standard output");
}

// Hands what C stdio holds for stdout to file descriptor 1.
void flush_c_stdout(void (*on_interrupt)()) {
    for (;;) {
        errno = 0;
        if (std::fflush(stdout) == 0) return;
        const int error = errno;
        if (error != EINTR) fail_to_write(error);
        std::clearerr(stdout);
        if (on_interrupt != nullptr) on_interrupt();
    }
}

// One write(2) to file descriptor 1: the count written, or -1 with errno set.
std::ptrdiff_t write_some(const char* data, std::size_t size) {
#if defined(_WIN32)
    constexpr std::size_t most = 1u << 30;
    return _write(1, data, static_cast<unsigned>(size < most ? size : most));
#else
    return ::write(1, data, size);
#endif
}

void write_all(const char* data, std::size_t size, void (*on_interrupt)()) {
    while (size > 0) {
        const std::ptrdiff_t written = write_some(data, size);
        if (written >= 0) {
            data += written;
            size -= static_cast<std::size_t>(written);
            continue;
        }
        const int error = errno;
        if (error != EINTR) fail_to_write(error);
        if (on_interrupt != nullptr) on_interrupt();
    }
}

// Blocks from this size on are advised for transparent huge pages.
constexpr std::size_t huge_page_threshold = std::size_t(4) << 20;
constexpr std::uintptr_t small_page_size = 4096;

}  // namespace

// ---------------------------------------------------------------------------

void* allocate_sample_bytes(std::size_t size) {
    void* block = ::operator new(size);
#if defined(__linux__) && defined(MADV_HUGEPAGE)
    if (size >= huge_page_threshold) {
        // Only whole pages can be advised. The advice is a hint: if the
        // kernel declines, the samples are merely slower to fill.
        const auto start = reinterpret_cast<std::uintptr_t>(block);
        const std::uintptr_t first_page = (start + small_page_size - 1) & ~(small_page_size - 1);
        madvise(reinterpret_cast<void*>(first_page), start + size - first_page, MADV_HUGEPAGE);
    }
#endif
    return block;
}

void deallocate_sample_bytes(void* block, [[maybe_unused]] std::size_t size) noexcept {
#if defined(__cpp_sized_deallocation)
    ::operator delete(block, size);
#else
    ::operator delete(block);  // clang before 19 leaves sized deallocation off by default
#endif
}

LinearRegression::LinearRegression(const DoubleArrayView& x_values, const DoubleArrayView& y_values) {
    const std::size_t n = element_count(x_values);
    if (element_count(y_values) != n) throw std::runtime_error("x and y must have the same length");
    x.reserve(n);
    y.reserve(n);
    append_elements(x_values, n, x);
    append_elements(y_values, n, y);
}

double LinearRegression::mean_x() const { return mean_of(x); }
double LinearRegression::mean_y() const { return mean_of(y); }
double LinearRegression::std_x() const { return std_of(x); }
double LinearRegression::std_y() const { return std_of(y); }
double LinearRegression::pearson_correlation() const { return correlation(moments_of(x, y)); }

double LinearRegression::slope() const { return line_of(moments_of(x, y)).slope; }
double LinearRegression::intercept() const { return line_of(moments_of(x, y)).intercept; }
double LinearRegression::predict_single(double value) const { return line_of(moments_of(x, y)).at(value); }

std::vector<double> LinearRegression::predict(const std::vector<double>& values) const {
    std::vector<double> predictions(values.size());
    fitted_line().predict(values.data(), values.size(), predictions.data());
    return predictions;
}

FittedLine LinearRegression::fitted_line() const {
    const Line line = line_of(moments_of(x, y));
    return FittedLine(line.slope, line.intercept);
}

void FittedLine::predict(const double* values, std::size_t count, double* predictions) const {
    const Line line{slope, intercept};
    for (std::size_t i = 0; i < count; ++i) predictions[i] = line.at(values[i]);
}

double LinearRegression::rmse() const { return fit_of(x, y).rmse(); }
double LinearRegression::mae() const { return fit_of(x, y).mae(); }
double LinearRegression::r_squared() const { return fit_of(x, y).r_squared(); }
double LinearRegression::residual_std_error() const { return fit_of(x, y).residual_std_error(); }
double LinearRegression::slope_standard_error() const { return fit_of(x, y).slope_standard_error(); }
double LinearRegression::t_value_slope() const { return fit_of(x, y).t_value_slope(); }

std::array<double, 13> LinearRegression::report_values() const {
    // Three passes in all. Each value is the expression its own method
    // evaluates: the means and Sxx, Syy come out of the moments pass exactly
    // as the single-array passes of mean_x, std_x and the others make them.
    const Fit fit = fit_of(x, y);
    const Moments& m = fit.moments;
    return {m.mean_x, m.mean_y, correlation(m), sample_std(m.sxx, m.n), sample_std(m.syy, m.n),
            fit.line.slope, fit.line.intercept, fit.rmse(), fit.mae(), fit.r_squared(),
            fit.residual_std_error(), fit.slope_standard_error(), fit.t_value_slope()};
}

std::string LinearRegression::report() const {
    const std::array<double, 13> values = report_values();
    std::ostringstream text;  // its own stream: the default format, whatever state std::cout is in
    text.imbue(std::locale::classic());
    for (std::size_t line = 0; line < values.size(); ++line) text << report_labels[line] << values[line] << '\n';
    return text.str();
}

void LinearRegression::summary() const { write_to_standard_output(report()); }

void write_to_standard_output(const std::string& text, void (*on_interrupt)()) {
    // on_interrupt may run code (a signal handler) that asks for another
    // report on this thread while the lock is held: refuse instead of hanging.
    thread_local bool writing = false;
    if (writing) throw std::runtime_error("summary called again while its report is being written");
    const std::lock_guard<std::mutex> hold(standard_output_lock);
    writing = true;
    try {
        flush_c_stdout(on_interrupt);
        write_all(text.data(), text.size(), on_interrupt);
    } catch (...) {
        writing = false;
        throw;
    }
    writing = false;
}

}  // namespace trendfit
