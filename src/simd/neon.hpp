// NEON (AArch64, every such CPU): the primitives of the vector layer on 16-byte vectors.
//
// Blocks: 4 lanes of float32 positions and components, 2 where either is float64.
// Samples come from
//   windows  for 4-lane blocks of float32 components (float32 and complex64 signals): two
//            planes per component, each lane's sample picked by one table lookup (tbl) of
//            its bytes; complex samples are split into planes as they are loaded (ld2);
//   rows     for 2-lane blocks of float64 components (float64 and complex128 signals): each
//            lane's consecutive samples loaded as whole 16-byte vectors and paired by zips;
//   per-lane loads for the other blocks of float32 components, one load into each lane.
#pragma once

#include <arm_neon.h>

#include "kernels/lanes.hpp"

namespace velquin::VELQUIN_LEVEL {

struct neon : float_runs_by_component<neon> {
    static constexpr int vector_bytes = 16;
    static constexpr int stream_bytes = 16;

    template <class M>
    static bool all_lanes(const M& lanes) {
        constexpr std::uint32_t every_bit = 0xFFFFFFFF;
        if constexpr (sizeof(M) == 16) {
            return vminvq_u32(bit_cast<uint32x4_t>(lanes)) == every_bit;
        } else {
            static_assert(sizeof(M) == 8, "masks of a vector or half of one");
            return vminv_u32(bit_cast<uint32x2_t>(lanes)) == every_bit;
        }
    }

    template <class X, int Lanes>
    static vec<X, Lanes> indices_as(const vec<std::int32_t, Lanes>& index) {
        return __builtin_convertvector(index, vec<X, Lanes>);
    }

    template <class R, int Lanes>
    static constexpr bool window_available = sizeof(R) == 4 && Lanes == 4;

    // The table lookup picks bytes: the four bytes of each lane's float32.
    template <class R, int Lanes>
    using window_index = vec<std::uint8_t, 16>;

    template <class R, int Lanes>
    static window_index<R, Lanes> window_index_of(const vec<std::int32_t, Lanes>& offset) {
        constexpr std::int32_t bytes_of_lane = 0x03020100;  // bytes 0, 1, 2, 3, lowest first
        return bit_cast<window_index<R, Lanes>>((offset * 4 * 0x01010101) + bytes_of_lane);
    }

    template <class R, int Lanes>
    static vec<R, Lanes> pick_plane(const vec<R, Lanes>& low, const vec<R, Lanes>& high,
                                    const window_index<R, Lanes>& index, int j) {
        const uint8x16x2_t table = {{bit_cast<uint8x16_t>(low), bit_cast<uint8x16_t>(high)}};
        const auto shift = static_cast<std::uint8_t>(4 * j);
        return bit_cast<vec<R, Lanes>>(vqtbl2q_u8(table, bit_cast<uint8x16_t>(index + shift)));
    }

    template <class R, int Lanes>
    static void load_complex(const unsigned char* first, vec<R, Lanes>& re, vec<R, Lanes>& im) {
        static_assert(sizeof(R) == 4 && Lanes == 4, "planes of 4 float32 components");
        const float32x4x2_t planes = vld2q_f32(reinterpret_cast<const float*>(first));
        re = bit_cast<vec<R, Lanes>>(planes.val[0]);
        im = bit_cast<vec<R, Lanes>>(planes.val[1]);
    }

    static void prefetch(const unsigned char* address) {
        asm volatile("prfm pldl1keep, %0" : : "Q"(*address));
    }

    // (The pairs are built first: clang's intrinsics are macros, which a braced list
    // would split into more arguments.)
    template <class R, int Lanes>
    static void store_complex(R* result, const vec<R, Lanes>& re, const vec<R, Lanes>& im) {
        if constexpr (sizeof(R) == 8) {
            static_assert(Lanes == 2, "16-byte planes");
            const float64x2x2_t pair = {{bit_cast<float64x2_t>(re), bit_cast<float64x2_t>(im)}};
            vst2q_f64(reinterpret_cast<double*>(result), pair);
        } else if constexpr (Lanes == 4) {
            const float32x4x2_t pair = {{bit_cast<float32x4_t>(re), bit_cast<float32x4_t>(im)}};
            vst2q_f32(reinterpret_cast<float*>(result), pair);
        } else {
            static_assert(Lanes == 2, "8- or 16-byte planes");
            const float32x2x2_t pair = {{bit_cast<float32x2_t>(re), bit_cast<float32x2_t>(im)}};
            vst2_f32(reinterpret_cast<float*>(result), pair);
        }
    }

    template <class V>
    static V swap_pairs(const V& value) {
        static_assert(sizeof(V) == 16, "a 16-byte vector");
        if constexpr (sizeof(value[0]) == 8) {
            const auto pair = bit_cast<float64x2_t>(value);
            return bit_cast<V>(vextq_f64(pair, pair, 1));
        } else {
            return bit_cast<V>(vrev64q_f32(bit_cast<float32x4_t>(value)));
        }
    }

    // Rows, 2 lanes of 8-byte components: each lane's run of Count * C components, two at a
    // time; component j of lane l goes to lane l of neighbour j / C, component j % C.
    template <class R, int C, int Lanes, int Count>
    static void load_rows(const unsigned char* signal, const vec<std::int32_t, Lanes>& start,
                          elements<R, C, Lanes>* const (&at)[Count]) {
        static_assert(sizeof(R) == 8 && Lanes == 2, "2 lanes of 8-byte components");
        constexpr int run = Count * C;
        const auto* first = reinterpret_cast<const double*>(
            signal + (static_cast<std::int64_t>(start[0]) * C * sizeof(R)));
        const auto* second = reinterpret_cast<const double*>(
            signal + (static_cast<std::int64_t>(start[1]) * C * sizeof(R)));
        for (int pair = 0; pair < run; pair += 2) {
            const float64x2_t a = vld1q_f64(first + pair);
            const float64x2_t b = vld1q_f64(second + pair);
            at[pair / C]->part[pair % C] = bit_cast<vec<R, Lanes>>(vzip1q_f64(a, b));
            at[(pair + 1) / C]->part[(pair + 1) % C] = bit_cast<vec<R, Lanes>>(vzip2q_f64(a, b));
        }
    }

    // Component c of the float32-component elements at[l], loaded into each lane on its
    // own (the float32 runs of load_runs).
    template <class R, int C, int Lanes>
    static vec<R, Lanes> load_component(const unsigned char* signal,
                                        const vec<std::int32_t, Lanes>& at, int c) {
        vec<R, Lanes> loaded;
        for (int lane = 0; lane < Lanes; ++lane) {
            R component;
            std::memcpy(&component,
                        signal + ((static_cast<std::int64_t>(at[lane]) * C + c) * sizeof(R)),
                        sizeof(R));
            loaded[lane] = component;
        }
        return loaded;
    }
};

}  // namespace velquin::VELQUIN_LEVEL
