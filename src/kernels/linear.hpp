// Linear interpolation of a signal sampled at 0, 1, ..., n-1.
//
// Types: element T (float, double, complex64, complex128); position X (float, double);
// weight R, the component type of T. Positions stay in X for the tests, the truncation and
// the fraction; only the fraction is converted to R, once. Sample arithmetic is in R.
//
// For each position p, the first rule that applies:
//   p < 0                 left fill value, copied (-0.0 is not below 0)
//   p >= B, B = X(n - 1)  right fill value, copied (B is rounded for float positions
//                         once n - 1 exceeds 2^24)
//   p is NaN              NaN of T; nothing is read
//   otherwise             k = trunc(p), w = R(p - X(k)) (the subtraction is exact),
//                         result = (s[k+1] - s[k]) * w + s[k], one rounding per operation;
//                         for complex T the product is the full product with (w, 0).
// A NaN computed by the formula is written as the quiet NaN of R (positive, zero payload),
// component by component; the fill values are copied bit for bit.
//
// k is a 64-bit integer: below 2^31 it equals the 32-bit truncation, and above it serves
// signals longer than 2^31 + 1 samples with the same formula. Reads stay inside the signal
// even where B is rounded up past n - 1: B then lies at most half a spacing of X above
// n - 1 while p lies at least one spacing below B, so p < n - 1 and k + 1 <= n - 1.
#pragma once

#include <cmath>
#include <cstdint>

#include "element.hpp"

namespace velquin::kernels {

template <class T, class X>
void linear_interp(packed_elements<T> signal, std::uint64_t n, packed_elements<X> x,
                   std::uint64_t m, T left, T right, T* result) {
    using R = real_t<T>;
    const X bound = static_cast<X>(n - 1);
    for (std::uint64_t i = 0; i < m; ++i) {
        if (i + prefetch_distance < m) {
            const X ahead = x[i + prefetch_distance];
            if (ahead >= X(0) && ahead < bound) {
                signal.prefetch(static_cast<std::int64_t>(ahead));
            }
        }
        const X p = x[i];
        if (p < X(0)) {
            result[i] = left;
        } else if (p >= bound) {
            result[i] = right;
        } else if (std::isnan(p)) {
            result[i] = quiet_nan<T>();
        } else {
            const auto k = static_cast<std::int64_t>(p);
            const auto weight = static_cast<R>(p - static_cast<X>(k));
            const T lower = signal[k];
            const T difference = signal[k + 1] - lower;
            result[i] = canonical_nan(times_real(difference, weight) + lower);
        }
    }
}

}  // namespace velquin::kernels
