// Linear interpolation, vectorised: the rules, types and evaluation order of linear.hpp,
// applied to a block of positions at a time (one machine vector of R or of X). Where it
// differs from the scalar kernel:
//   - indices are 32-bit: the caller guarantees n - 1 < 2^31 (and n >= 2);
//   - unless every lane is inside [0, B), lanes outside, NaN lanes among them, compute
//     with p = 0, so that the truncation is always defined and every load stays in the
//     signal; each lane then takes, in the scalar order of the rules, NaN, the right fill
//     or the left fill where its own rule says so.
#pragma once

#include "vector.hpp"

namespace velquin::VELQUIN_LEVEL {

template <class R, int C, class X>
void linear_interp(const void* signal_data, std::uint64_t n, const void* x_data, std::uint64_t m,
                   const R* left, const R* right, R* result) {
    constexpr int lanes = lanes_of<R, X>;
    using positions = vec<X, lanes>;
    using block_elements = elements<R, C, lanes>;

    const auto* signal = static_cast<const unsigned char*>(signal_data);
    const auto* x = static_cast<const unsigned char*>(x_data);
    const X bound = static_cast<X>(n - 1);
    const outside_values<R, C, lanes> outside(left, right);

    // The line between the samples k and k + 1 in every lane.
    const auto line = [=](const split_positions<R, X, lanes>& split)
                          __attribute__((always_inline)) {
                              block_elements lower;
                              block_elements upper;
                              load_neighbours<R, C, lanes>(signal, n, split.index, lower, upper);
                              return canonical_nan(times_real(upper - lower, split.weight) + lower);
                          };

    auto interpolate = [=](const positions& p) __attribute__((always_inline)) {
        // Blocks wholly inside, the common case, need neither per-lane tests nor a selection.
        if (all_lanes((p >= X(0)) & (p < bound))) {
            return line(split_positions<R, X, lanes>(p));
        }
        const split_block<R, X, lanes> block(p, bound);
        return outside.apply(line(block), p, block.inside, bound);
    };

    auto prefetch = [&](const positions& p) {
        const auto k = split_block<R, X, lanes>(p, bound).index;
        prefetch_elements<R, C, lanes>(signal, k, 0);
        if constexpr (C * sizeof(R) > 8) {
            // Two complex128 samples, 32 bytes, cross a cache line for one k in four.
            prefetch_elements<R, C, lanes>(signal, k, 1);
        }
    };

    run_blocks<R, C, X, lanes>(signal, n, x, m, result, interpolate, prefetch);
}

}  // namespace velquin::VELQUIN_LEVEL
