// AVX2 (x86-64-v3): the primitives of the vector layer on 32-byte vectors.
//
// Blocks: 8 lanes of float32 positions and components, 4 where either is float64.
// Samples come from
//   windows  for 8-lane blocks of float32 components (float32 and complex64 signals): two
//            planes per component, each lane's sample picked by two permutes and a blend;
//   rows     for 4-lane blocks of float64 components (float64 and complex128 signals): each
//            lane's consecutive samples taken by one 16-byte or one or two 32-byte loads and
//            transposed by unpacks and 128-bit permutes, rather than gathered: gathers are
//            slow on several x86 families (benchmarks/design-measurements.md);
//   gathers  for the other blocks of float32 components, one instruction per neighbour and
//            component.
#pragma once

#include <immintrin.h>

#include "kernels/lanes.hpp"

namespace velquin::VELQUIN_LEVEL {

struct avx2 : float_runs_by_component<avx2> {
    static constexpr int vector_bytes = 32;
    // The row blend streams through memory: wider vectors gain nothing there.
    static constexpr int stream_bytes = 32;

    // True when every lane of a mask of one vector or half of one is set.
    template <class M>
    static bool all_lanes(const M& lanes) {
        if constexpr (sizeof(M) == 32) {
            return _mm256_movemask_epi8(reinterpret_cast<__m256i>(lanes)) == -1;
        } else {
            static_assert(sizeof(M) == 16, "masks of a vector or half of one");
            constexpr int every_byte = 0xFFFF;  // one bit per byte
            return _mm_movemask_epi8(reinterpret_cast<__m128i>(lanes)) == every_byte;
        }
    }

    // The indices as values of X, exactly (|index| < 2^31). For 4 lanes into float64 one
    // instruction, where GCC splits the conversion into two halves and an insert.
    template <class X, int Lanes>
    static vec<X, Lanes> indices_as(const vec<std::int32_t, Lanes>& index) {
        if constexpr (sizeof(X) == 8 && Lanes == 4) {
            return reinterpret_cast<vec<X, Lanes>>(
                _mm256_cvtepi32_pd(reinterpret_cast<__m128i>(index)));
        } else {
            return __builtin_convertvector(index, vec<X, Lanes>);
        }
    }

    // Windows of float32 planes that fill a vector.
    template <class R, int Lanes>
    static constexpr bool window_available = sizeof(R) == 4 && Lanes == 8;

    template <class R, int Lanes>
    using window_index = vec<std::int32_t, Lanes>;

    template <class R, int Lanes>
    static window_index<R, Lanes> window_index_of(const vec<std::int32_t, Lanes>& offset) {
        return offset;
    }

    // Lane l takes lane index[l] + j of the 2 * Lanes lanes of `low` followed by `high`.
    template <class R, int Lanes>
    static vec<R, Lanes> pick_plane(const vec<R, Lanes>& low, const vec<R, Lanes>& high,
                                    const window_index<R, Lanes>& index, int j) {
        const auto at = reinterpret_cast<__m256i>(index + j);
        const __m256 from_low = _mm256_permutevar8x32_ps(reinterpret_cast<__m256>(low), at);
        const __m256 from_high = _mm256_permutevar8x32_ps(reinterpret_cast<__m256>(high), at);
        // Lanes 8 to 15 lie in `high`: bit 3, moved to the sign bit, selects it.
        constexpr int bit_3_to_sign = 28;
        const __m256 in_high = _mm256_castsi256_ps(_mm256_slli_epi32(at, bit_3_to_sign));
        return reinterpret_cast<vec<R, Lanes>>(_mm256_blendv_ps(from_low, from_high, in_high));
    }

    // Lanes complex elements from `first` (any alignment), split into their components.
    template <class R, int Lanes>
    static void load_complex(const unsigned char* first, vec<R, Lanes>& re, vec<R, Lanes>& im) {
        static_assert(sizeof(R) == 4 && Lanes == 8, "planes of 8 float32 components");
        const auto a = load<__m256>(first);
        const auto b = load<__m256>(first + sizeof(__m256));
        // Within each 128-bit half: a's pair, then b's pair; the 64-bit quarters then go
        // back into element order.
        constexpr int evens = 0x88;     // lanes 0, 2 of each source
        constexpr int odds = 0xDD;      // lanes 1, 3 of each source
        constexpr int in_order = 0xD8;  // 64-bit quarters 0, 2, 1, 3
        re = reinterpret_cast<vec<R, Lanes>>(
            _mm256_permute4x64_pd(_mm256_castps_pd(_mm256_shuffle_ps(a, b, evens)), in_order));
        im = reinterpret_cast<vec<R, Lanes>>(
            _mm256_permute4x64_pd(_mm256_castps_pd(_mm256_shuffle_ps(a, b, odds)), in_order));
    }

    // A hint to bring the cache line at `address` in: reads nothing, so any address is
    // harmless. An instruction of its own: GCC drops __builtin_prefetch when its address
    // comes from vector lanes.
    static void prefetch(const unsigned char* address) {
        asm volatile("prefetcht0 %0" : : "m"(*address));
    }

    // Stores re[l] and im[l] as the interleaved components of Lanes complex elements, with
    // unpacks (and, for 32-byte planes, two 128-bit permutes): each unpack pairs re and im
    // of the lanes it takes from every 128-bit part.
    template <class R, int Lanes>
    static void store_complex(R* result, const vec<R, Lanes>& re, const vec<R, Lanes>& im) {
        if constexpr (sizeof(re) == 16) {
            static_assert(sizeof(R) == 4, "16-byte planes of float32 components");
            const auto re4 = reinterpret_cast<__m128>(re);
            const auto im4 = reinterpret_cast<__m128>(im);
            store(result, _mm_unpacklo_ps(re4, im4));
            store(result + Lanes, _mm_unpackhi_ps(re4, im4));
        } else {
            static_assert(sizeof(re) == 32, "planes of a vector or half of one");
            __m256d low;
            __m256d high;
            if constexpr (sizeof(R) == 8) {
                low = _mm256_unpacklo_pd(reinterpret_cast<__m256d>(re),
                                         reinterpret_cast<__m256d>(im));
                high = _mm256_unpackhi_pd(reinterpret_cast<__m256d>(re),
                                          reinterpret_cast<__m256d>(im));
            } else {
                low = _mm256_castps_pd(
                    _mm256_unpacklo_ps(reinterpret_cast<__m256>(re), reinterpret_cast<__m256>(im)));
                high = _mm256_castps_pd(
                    _mm256_unpackhi_ps(reinterpret_cast<__m256>(re), reinterpret_cast<__m256>(im)));
            }
            constexpr int low_halves = 0x20;
            constexpr int high_halves = 0x31;
            store(result, _mm256_permute2f128_pd(low, high, low_halves));
            store(result + Lanes, _mm256_permute2f128_pd(low, high, high_halves));
        }
    }

    // Interleaved (re, im) components of a 32-byte vector with each pair's two lanes swapped.
    template <class V>
    static V swap_pairs(const V& value) {
        static_assert(sizeof(V) == 32, "a 32-byte vector");
        if constexpr (sizeof(value[0]) == 8) {
            constexpr int swap_doubles = 0x5;  // lane 1, then lane 0, of both pairs
            return reinterpret_cast<V>(
                _mm256_permute_pd(reinterpret_cast<__m256d>(value), swap_doubles));
        } else {
            constexpr int swap_floats = 0xB1;  // lanes 1, 0, 3, 2 of each 128-bit half
            return reinterpret_cast<V>(
                _mm256_permute_ps(reinterpret_cast<__m256>(value), swap_floats));
        }
    }

    // Rows: each lane's run of Count * C 8-byte components, loaded 16 or 32 bytes at a
    // time, and transposed.
    template <class R, int C, int Lanes, int Count>
    static void load_rows(const unsigned char* signal, const vec<std::int32_t, Lanes>& start,
                          elements<R, C, Lanes>* const (&at)[Count]) {
        static_assert(sizeof(R) == 8 && Lanes == 4, "4 lanes of 8-byte components");
        constexpr int run = Count * C;  // components per lane
        static_assert(run == 2 || run % 4 == 0, "a 16-byte load or whole 32-byte loads per lane");
        const double* row[Lanes];
        for (int lane = 0; lane < Lanes; ++lane) {
            row[lane] = reinterpret_cast<const double*>(
                signal + (static_cast<std::int64_t>(start[lane]) * C * sizeof(R)));
        }
        // Component j of a lane's run is component j % C of neighbour j / C.
        const auto put = [&at](int j, __m256d lanes) {
            at[j / C]->part[j % C] = reinterpret_cast<vec<R, Lanes>>(lanes);
        };
        if constexpr (run == 2) {
            const __m256d first = _mm256_set_m128d(_mm_loadu_pd(row[1]), _mm_loadu_pd(row[0]));
            const __m256d second = _mm256_set_m128d(_mm_loadu_pd(row[3]), _mm_loadu_pd(row[2]));
            constexpr int in_order = 0xD8;  // 64-bit quarters 0, 2, 1, 3
            put(0, _mm256_permute4x64_pd(_mm256_unpacklo_pd(first, second), in_order));
            put(1, _mm256_permute4x64_pd(_mm256_unpackhi_pd(first, second), in_order));
        } else {
            constexpr int low_halves = 0x20;
            constexpr int high_halves = 0x31;
            for (int chunk = 0; chunk < run; chunk += 4) {
                const __m256d r0 = _mm256_loadu_pd(row[0] + chunk);
                const __m256d r1 = _mm256_loadu_pd(row[1] + chunk);
                const __m256d r2 = _mm256_loadu_pd(row[2] + chunk);
                const __m256d r3 = _mm256_loadu_pd(row[3] + chunk);
                const __m256d even01 = _mm256_unpacklo_pd(r0, r1);  // r0[0] r1[0] r0[2] r1[2]
                const __m256d odd01 = _mm256_unpackhi_pd(r0, r1);   // r0[1] r1[1] r0[3] r1[3]
                const __m256d even23 = _mm256_unpacklo_pd(r2, r3);
                const __m256d odd23 = _mm256_unpackhi_pd(r2, r3);
                put(chunk, _mm256_permute2f128_pd(even01, even23, low_halves));
                put(chunk + 1, _mm256_permute2f128_pd(odd01, odd23, low_halves));
                put(chunk + 2, _mm256_permute2f128_pd(even01, even23, high_halves));
                put(chunk + 3, _mm256_permute2f128_pd(odd01, odd23, high_halves));
            }
        }
    }

    // Component c of the float32-component elements at[l], one lane each, by one gather
    // instruction (the float32 runs of load_runs). at[l] is in [0, n - 1], n - 1 < 2^31.
    // The component is reached through the base address and the element size through the
    // scale.
    template <class R, int C, int Lanes>
    static vec<R, Lanes> load_component(const unsigned char* signal,
                                        const vec<std::int32_t, Lanes>& at, int c) {
        static_assert(sizeof(R) == 4, "8-byte components load as rows");
        constexpr int element_bytes = sizeof(R) * C;
        const auto* base = reinterpret_cast<const float*>(signal + (c * sizeof(R)));
        // The masked forms with every lane set and a zeroed source: GCC's unmasked
        // intrinsics start from an undefined register, which -Wmaybe-uninitialized reports.
        if constexpr (Lanes == 8) {
            return reinterpret_cast<vec<R, Lanes>>(_mm256_mask_i32gather_ps(
                _mm256_setzero_ps(), base, reinterpret_cast<__m256i>(at),
                _mm256_castsi256_ps(_mm256_set1_epi32(-1)), element_bytes));
        } else {
            static_assert(Lanes == 4, "a vector or half of one");
            return reinterpret_cast<vec<R, Lanes>>(
                _mm_mask_i32gather_ps(_mm_setzero_ps(), base, reinterpret_cast<__m128i>(at),
                                      _mm_castsi128_ps(_mm_set1_epi32(-1)), element_bytes));
        }
    }
};

}  // namespace velquin::VELQUIN_LEVEL
