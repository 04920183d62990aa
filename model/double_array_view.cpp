// Copying an array of doubles, of any layout, into stored samples.

#include "model/double_array_view.hpp"

#include <cstring>
#include <limits>
#include <stdexcept>
#include <vector>

namespace trendfit {

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

namespace {

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

}  // namespace

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

}  // namespace trendfit
