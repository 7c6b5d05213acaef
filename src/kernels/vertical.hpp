// Blend of the two rows of a row-major signal (rows x cols) that enclose a row position x.
//
// Types: element T (float, double, complex64, complex128); x is a double; weight R, the
// component type of T. The range tests and the truncation use the double x; only the
// fraction is converted to R, once. The blend is in R, one rounding per operation.
//
// In order:
//   x < 0                 row 0, one block copy (-0.0 is not below 0)
//   x >= double(rows - 1) row rows - 1, one block copy
//   x is NaN              NaN of T in every column; nothing is read
//   otherwise             c = trunc(x), w = R(x - double(c)) (the subtraction is exact),
//                         result[j] = (r1[j] - r0[j]) * w + r0[j] with r0, r1 rows c, c + 1;
//                         for complex T the product is the full product with (w, 0).
//
// The copies keep every bit of the row (NaN payloads, signed zeros); a NaN computed by the
// blend is written as the quiet NaN of R (positive, zero payload), component by component. c is a
// 64-bit integer, so signals taller than 2^31 + 1 rows are served with the same formula, and the
// row offsets c * cols and (c + 1) * cols are formed in 64 bits.
#pragma once

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "element.hpp"

namespace velquin::kernels {

// The inside case: result[j] = (upper[j] - lower[j]) * w + lower[j] for the cols elements
// of two rows.
template <class T>
void blend_two_rows(const void* lower_row, const void* upper_row, std::uint64_t cols, real_t<T> w,
                    T* result) {
    const packed_elements<T> lower(lower_row);
    const packed_elements<T> upper(upper_row);
    for (std::uint64_t j = 0; j < cols; ++j) {
        const T low = lower[j];
        result[j] = canonical_nan(times_real(upper[j] - low, w) + low);
    }
}

// `blend_two` computes the inside case: blend_two_rows, or a vectorised kernel with its
// arguments and bits.
template <class T, class BlendTwoRows>
void blend_rows(const void* signal, std::uint64_t rows, std::uint64_t cols, double x, T* result,
                BlendTwoRows blend_two) {
    using R = real_t<T>;
    const auto* data = static_cast<const std::byte*>(signal);
    const std::size_t row_bytes = cols * sizeof(T);
    if (x < 0.0) {
        std::memcpy(result, data, row_bytes);
    } else if (x >= static_cast<double>(rows - 1)) {
        std::memcpy(result, data + ((rows - 1) * row_bytes), row_bytes);
    } else if (std::isnan(x)) {
        for (std::uint64_t j = 0; j < cols; ++j) {
            result[j] = quiet_nan<T>();
        }
    } else {
        const auto c = static_cast<std::uint64_t>(x);
        const auto w = static_cast<R>(x - static_cast<double>(c));
        blend_two(data + (c * row_bytes), data + ((c + 1) * row_bytes), cols, w, result);
    }
}

}  // namespace velquin::kernels
