// Cubic interpolation, vectorised: the rules, types and evaluation order of cubic.hpp,
// applied to a block of positions at a time (one machine vector of R or of X). Where it
// differs from the scalar kernel:
//   - indices are 32-bit: the caller guarantees n - 1 < 2^31 (and n >= 4);
//   - lanes outside [0, L), NaN lanes among them, compute with p = 0, so that the
//     truncation is always defined;
//   - a block not wholly inside the cubic segment evaluates the cubic from indices clamped
//     to [1, n-3], so that its loads stay in the signal, and both end intervals, in every
//     lane; each lane then takes the result of the first rule that applies, NaN results
//     made canonical before the fills are selected.
#pragma once

#include "kernels/catmull_rom.hpp"
#include "vector.hpp"

namespace velquin::VELQUIN_LEVEL {

template <class R, int C, class X>
void cubic_interp(const void* signal_data, std::uint64_t n, const void* x_data, std::uint64_t m,
                  const R* left, const R* right, R* result) {
    constexpr int lanes = lanes_of<R, X>;
    using positions = vec<X, lanes>;
    using weights = vec<R, lanes>;
    using indices = vec<std::int32_t, lanes>;
    using block_elements = elements<R, C, lanes>;

    const auto* signal = static_cast<const unsigned char*>(signal_data);
    const auto* x = static_cast<const unsigned char*>(x_data);
    const X bound = static_cast<X>(n - 1);
    const X last_interval_start = bound - X(1);
    const X second_last_position = static_cast<X>(n - 2);
    const auto last_index = static_cast<std::int32_t>(n - 2);
    // Below 2^24 + 1 samples float positions and their bounds are exact, and so for double
    // positions: p < L - 1 then means i < n - 2.
    const bool bounds_exact = sizeof(X) == 8 || n - 1 <= (std::uint64_t{1} << 24U);
    const auto last_cubic_index = static_cast<std::int32_t>(n - 3);

    const outside_values<R, C, lanes> outside(left, right);
    // Indices in [1, n-3], so that the four samples around each lie inside the signal.
    const auto clamp_to_cubic = [last_cubic_index](indices i) {
        i = i < 1 ? indices{} + 1 : i;
        return i > last_cubic_index ? indices{} + last_cubic_index : i;
    };
    const auto sample = [&](std::uint64_t index) {
        return broadcast_element<R, C, lanes>(signal + (index * C * sizeof(R)));
    };
    const auto first = sample(0);
    const auto first_step = sample(1) - first;
    const auto second_last = sample(n - 2);
    const auto last_step = sample(n - 1) - second_last;

    // The cubic on the four samples from index `start` on in every lane.
    const auto cubic = [=](const indices& start, const weights& d) __attribute__((always_inline)) {
        block_elements u;
        block_elements o;
        block_elements t;
        block_elements v;
        load_neighbours<R, C, lanes>(signal, n, start, u, o, t, v);
        return catmull_rom<R>(u, o, t, v, d, [](const block_elements& value, const auto& k) {
            return times_real(value, k);
        });
    };

    auto interpolate = [=](const positions& p) __attribute__((always_inline)) {
        // Blocks wholly inside the cubic segment, the common case, need neither range tests
        // per lane, nor clamped indices, nor a selection.
        if (all_lanes((p >= X(1)) & (p < last_interval_start))) {
            const split_positions<R, X, lanes> split(p);
            if (bounds_exact || all_lanes(split.index < last_index)) {
                return canonical_nan(cubic(split.index - 1, split.weight));
            }
        }
        const split_block<R, X, lanes> block(p, bound);
        const auto& i = block.index;
        const auto& d = block.weight;
        block_elements out = cubic(clamp_to_cubic(i) - 1, d);
        const mask<X, lanes> in_last =
            (p >= last_interval_start) | convert_mask<X, lanes>(i >= last_index);
        const weights w = __builtin_convertvector(block.safe - second_last_position, weights);
        out = select(convert_mask<R, lanes>(in_last), times_real(last_step, w) + second_last, out);
        out = select(convert_mask<R, lanes>(p < X(1)), times_real(first_step, d) + first, out);
        return outside.apply(canonical_nan(out), p, block.inside, bound);
    };

    // The four samples of a lane span at most two cache lines: their first and last.
    auto prefetch = [&](const positions& p) {
        const indices clamped = clamp_to_cubic(split_block<R, X, lanes>(p, bound).index);
        prefetch_elements<R, C, lanes>(signal, clamped, -1);
        prefetch_elements<R, C, lanes>(signal, clamped, 2);
    };

    run_blocks<R, C, X, lanes>(signal, n, x, m, result, interpolate, prefetch);
}

}  // namespace velquin::VELQUIN_LEVEL
