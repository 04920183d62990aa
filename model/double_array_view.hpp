#pragma once

#include <cstddef>

#include "model/sample_allocator.hpp"

namespace trendfit {

// A read-only view of an N-dimensional array of doubles. Its elements are
// taken in row-major order (last index fastest) through byte strides, so
// reversed, transposed, sliced and broadcast (zero-stride) layouts all work.
// The data need not be aligned.
struct DoubleArrayView {
    const void* data;
    std::size_t ndim;
    const std::ptrdiff_t* shape;    // ndim extents
    const std::ptrdiff_t* strides;  // ndim byte strides
};

// The number of elements of the array. Throws std::length_error if it
// overflows a size_t.
std::size_t element_count(const DoubleArrayView& array);

// Appends the array's `count` elements (its element_count) to `out`, in
// row-major order, within capacity that `out` has reserved for them.
void append_elements(const DoubleArrayView& array, std::size_t count, Samples& out);

}  // namespace trendfit
