// Cubic interpolation of a signal sampled at 0, 1, ..., n-1: the uniform Catmull-Rom
// cubic inside, linear in the first and last intervals.
//
// Types: element T (float, double, complex64, complex128); position X (float, double);
// weight R, the component type of T. Positions stay in X for the tests, the truncation and
// the fraction; only the fraction is converted to R, once. Sample arithmetic is in R, one
// rounding per operation; for complex T every product with a real k (the constants and the
// weights) is the full product with (k, 0).
//
// L = X(n - 1) and L - 1 (computed in X) are formed once per call. For each position p,
// the first rule that applies:
//   p < 0           left fill value, copied (-0.0 is not below 0)
//   p >= L          right fill value, copied
//   p is NaN        NaN of T; nothing is read
//   otherwise       i = trunc(p), d = R(p - X(i)) (the subtraction is exact), then
//   p < 1           (s[1] - s[0]) * d + s[0]
//   p >= L - 1      (s[n-1] - s[n-2]) * w + s[n-2], w = R(p - X(n - 2))
//   otherwise       the cubic on u, o, t, v = s[i-1], s[i], s[i+1], s[i+2], in exactly
//                   this grouping:
//                     A = ((((v - t*3) + o*3) - u) * 0.5) * d
//                     B = ((((t*4 - v) - o*5) + u*2) * 0.5
//                     G = (t - u) * 0.5
//                     result = (((A + B) * d) + G) * d + o
// A NaN computed by any formula is written as the quiet NaN of R (positive, zero payload),
// component by component, so the last interval gives exactly what the linear function
// gives; the fill values are copied bit for bit.
//
// i is a 64-bit integer: below 2^31 it equals the 32-bit truncation, and above it serves
// signals longer than 2^31 + 1 samples with the same formulas.
//
// Float positions on signals with n - 1 above 2^24: L and L - 1 are rounded, and L - 1 may
// even equal L, so a position with i = n - 2 can miss the last-interval test and would
// need s[n] for the cubic. Such a position takes the last-interval rule instead. As a
// float of at least 2^24 it is an integer, so p = n - 2 exactly and w = 0.
// Every other position keeps the rules above. i never exceeds n - 2: L lies at most half
// a spacing of X above n - 1 while p lies at least one spacing below L, so p < n - 1.
#pragma once

#include <cmath>
#include <cstdint>

#include "element.hpp"
#include "kernels/catmull_rom.hpp"

namespace velquin::kernels {

template <class T, class X>
void cubic_interp(packed_elements<T> signal, std::uint64_t n, packed_elements<X> x, std::uint64_t m,
                  T left, T right, T* result) {
    using R = real_t<T>;
    const X bound = static_cast<X>(n - 1);
    const X last_interval_start = bound - X(1);
    const X second_last_position = static_cast<X>(n - 2);
    const T first = signal[0];
    const T first_step = signal[1] - first;
    const T second_last = signal[n - 2];
    const T last_step = signal[n - 1] - second_last;
    for (std::uint64_t j = 0; j < m; ++j) {
        if (j + prefetch_distance < m) {
            const X ahead = x[j + prefetch_distance];
            if (ahead >= X(1) && ahead < last_interval_start) {
                const auto at = static_cast<std::int64_t>(ahead);
                signal.prefetch(at - 1);  // the four samples span at most two cache lines
                signal.prefetch(at + 2);
            }
        }
        const X p = x[j];
        if (p < X(0)) {
            result[j] = left;
        } else if (p >= bound) {
            result[j] = right;
        } else if (std::isnan(p)) {
            result[j] = quiet_nan<T>();
        } else {
            const auto i = static_cast<std::int64_t>(p);
            const auto d = static_cast<R>(p - static_cast<X>(i));
            if (p < X(1)) {
                result[j] = canonical_nan(times_real(first_step, d) + first);
            } else if (p >= last_interval_start || static_cast<std::uint64_t>(i) >= n - 2) {
                const auto w = static_cast<R>(p - second_last_position);
                result[j] = canonical_nan(times_real(last_step, w) + second_last);
            } else {
                result[j] = canonical_nan(
                    catmull_rom<R>(signal[i - 1], signal[i], signal[i + 1], signal[i + 2], d,
                                   [](const T& value, R k) { return times_real(value, k); }));
            }
        }
    }
}

}  // namespace velquin::kernels
