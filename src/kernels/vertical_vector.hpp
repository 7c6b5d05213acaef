// Blend of two rows, vectorised: the inside case of vertical.hpp, one machine vector of
// components at a time. Where it differs from the scalar kernel:
//   - rows are taken as interleaved components, in vectors of the level's streaming width
//     (the pass is bound by memory: a wider level may keep a narrower width);
//   - for complex elements the full product with (w, 0) is formed on interleaved pairs,
//     the imaginary part as im(d) * w + re(d) * 0 rather than re(d) * 0 + im(d) * w: the
//     same value, and a NaN it gives becomes the canonical one anyway;
//   - the last, partial vector is blended from padded copies and stores only its own
//     components, so nothing outside the two rows is read.
#pragma once

#include "vector.hpp"

namespace velquin::VELQUIN_LEVEL {

template <class R, int C>
void blend_two_rows(const void* lower_row, const void* upper_row, std::uint64_t cols, R w,
                    R* result) {
    constexpr int lanes = simd::stream_bytes / static_cast<int>(sizeof(R));
    using components = vec<R, lanes>;
    const auto* lower = static_cast<const unsigned char*>(lower_row);
    const auto* upper = static_cast<const unsigned char*>(upper_row);
    const components weight = broadcast<components>(w);

    const auto blend = [&](const components& low, const components& high) {
        const components step = high - low;
        components out;
        if constexpr (C == 1) {
            out = (step * weight) + low;
        } else {
            const components by_weight = step * weight;                        // re*w, im*w
            const components by_zero = simd::swap_pairs(step) * components{};  // im*0, re*0
            out = select_even(by_weight - by_zero, by_weight + by_zero) + low;
        }
        return canonical_nan_lanes<R, lanes>(out);
    };

    const std::uint64_t count = cols * C;  // components
    constexpr std::uint64_t bytes = sizeof(components);
    std::uint64_t i = 0;
    for (; i + lanes <= count; i += lanes) {
        store(result + i, blend(load<components>(lower + (i * sizeof(R))),
                                load<components>(upper + (i * sizeof(R)))));
    }
    if (i < count) {
        const std::uint64_t rest = (count - i) * sizeof(R);
        unsigned char low[bytes] = {};
        unsigned char high[bytes] = {};
        std::memcpy(low, lower + (i * sizeof(R)), rest);
        std::memcpy(high, upper + (i * sizeof(R)), rest);
        const components out = blend(load<components>(low), load<components>(high));
        std::memcpy(result + i, &out, rest);
    }
}

}  // namespace velquin::VELQUIN_LEVEL
