// AVX-512 (x86-64-v4): the primitives of the vector layer on 64-byte vectors.
//
// Blocks: 16 lanes of float32 positions and components, 8 where either is float64.
// Samples come from
//   windows  for every block whose samples fit one: two planes per component, each lane's
//            sample picked by one two-source permute (vpermt2ps, vpermt2pd); complex
//            samples are split into planes by the same permute;
//   rows     otherwise, for 8-byte components: each lane's consecutive samples taken by
//            16- or 32-byte loads, two lanes to a vector, and transposed by permutes, as
//            AVX2 does rather than gathering;
//   pairs    otherwise, for float32 components: each lane's consecutive samples gathered
//            8 bytes at a time, half the gathered loads of one per component, then split.
// Everything else is AVX2's, inherited: the row blend streams through memory at AVX2's
// width, and prefetching and pair swaps are the same instructions.
#pragma once

#include <immintrin.h>

#include "simd/avx2.hpp"

namespace velquin::VELQUIN_LEVEL {

struct avx512 : avx2 {
    static constexpr int vector_bytes = 64;

    // Intrinsics are used in their masked forms with every lane set: GCC's unmasked forms
    // start from an undefined register, which -Wmaybe-uninitialized reports.
    static constexpr __mmask8 every_lane8 = 0xFF;

    template <class M>
    static bool all_lanes(const M& lanes) {
        if constexpr (sizeof(M) == 64) {
            return _mm512_cmpneq_epi64_mask(reinterpret_cast<__m512i>(lanes),
                                            _mm512_set1_epi64(-1)) == 0;
        } else {
            return avx2::all_lanes(lanes);
        }
    }

    // One instruction for 8 lanes into float64, where GCC splits the conversion in two.
    template <class X, int Lanes>
    static vec<X, Lanes> indices_as(const vec<std::int32_t, Lanes>& index) {
        if constexpr (sizeof(X) == 8 && Lanes == 8) {
            return reinterpret_cast<vec<X, Lanes>>(
                _mm512_maskz_cvtepi32_pd(every_lane8, reinterpret_cast<__m256i>(index)));
        } else {
            return avx2::indices_as<X, Lanes>(index);
        }
    }

    // Every block's planes fill 32 or 64 bytes.
    template <class R, int Lanes>
    static constexpr bool window_available = sizeof(vec<R, Lanes>) >= 32;

    // The permutes of 8-byte lanes take 64-bit indices.
    template <class R, int Lanes>
    using window_index = vec<typename int_of_size<sizeof(R)>::type, Lanes>;

    template <class R, int Lanes>
    static window_index<R, Lanes> window_index_of(const vec<std::int32_t, Lanes>& offset) {
        if constexpr (sizeof(R) == 8 && Lanes == 8) {
            return reinterpret_cast<window_index<R, Lanes>>(
                _mm512_maskz_cvtepi32_epi64(every_lane8, reinterpret_cast<__m256i>(offset)));
        } else {
            return __builtin_convertvector(offset, window_index<R, Lanes>);
        }
    }

    template <class R, int Lanes>
    static vec<R, Lanes> pick_plane(const vec<R, Lanes>& low, const vec<R, Lanes>& high,
                                    const window_index<R, Lanes>& index, int j) {
        return two_source_permute(low, index + j, high);
    }

    template <class R, int Lanes>
    static void load_complex(const unsigned char* first, vec<R, Lanes>& re, vec<R, Lanes>& im) {
        using plane = vec<R, Lanes>;
        const auto a = load<plane>(first);
        const auto b = load<plane>(first + sizeof(plane));
        const auto evens = even_lanes<window_index<R, Lanes>>();
        re = two_source_permute(a, evens, b);
        im = two_source_permute(a, evens + 1, b);
    }

    template <class R, int Lanes>
    static void store_complex(R* result, const vec<R, Lanes>& re, const vec<R, Lanes>& im) {
        if constexpr (sizeof(re) == 64) {
            // re[0], im[0], re[1], im[1], ... from the lanes of `re` followed by `im`.
            window_index<R, Lanes> first;
            for (int lane = 0; lane < Lanes; ++lane) {
                first[lane] = (lane / 2) + (lane % 2 == 0 ? 0 : Lanes);
            }
            store(result, two_source_permute(re, first, im));
            store(result + Lanes, two_source_permute(re, first + (Lanes / 2), im));
        } else {
            avx2::store_complex<R, Lanes>(result, re, im);
        }
    }

    // Rows, 8 lanes of 8-byte components: each lane's run of Count * C components loaded
    // 16 or 32 bytes at a time, two or four lanes to a vector, and transposed.
    template <class R, int C, int Lanes, int Count>
    static void load_rows(const unsigned char* signal, const vec<std::int32_t, Lanes>& start,
                          elements<R, C, Lanes>* const (&at)[Count]) {
        static_assert(sizeof(R) == 8 && Lanes == 8, "8 lanes of 8-byte components");
        using plane = vec<R, Lanes>;
        using index = vec<std::int64_t, Lanes>;
        constexpr int run = Count * C;  // components per lane
        static_assert(run == 2 || run % 4 == 0, "16-byte or whole 32-byte loads per lane");
        const double* row[Lanes];
        for (int lane = 0; lane < Lanes; ++lane) {
            row[lane] = reinterpret_cast<const double*>(
                signal + (static_cast<std::int64_t>(start[lane]) * C * sizeof(R)));
        }
        // Component j of a lane's run is component j % C of neighbour j / C.
        const auto put = [&at](int j, const plane& lanes) { at[j / C]->part[j % C] = lanes; };
        if constexpr (run == 2) {
            // The pairs of lanes 0 to 3, and of lanes 4 to 7: their even and odd lanes.
            const auto four_pairs = [&row](int first) {
                return reinterpret_cast<plane>(concatenate(
                    _mm256_set_m128d(_mm_loadu_pd(row[first + 1]), _mm_loadu_pd(row[first])),
                    _mm256_set_m128d(_mm_loadu_pd(row[first + 3]), _mm_loadu_pd(row[first + 2]))));
            };
            const plane low = four_pairs(0);
            const plane high = four_pairs(4);
            const auto evens = even_lanes<index>();
            put(0, two_source_permute(low, evens, high));
            put(1, two_source_permute(low, evens + 1, high));
        } else {
            // Four components of lanes first and first + 1, from `chunk` on.
            const auto two_rows = [&row](int first, int chunk) {
                return reinterpret_cast<plane>(concatenate(
                    _mm256_loadu_pd(row[first] + chunk), _mm256_loadu_pd(row[first + 1] + chunk)));
            };
            // Interleaving lanes (0, 1) with (2, 3) gives components 0 and 2 of lanes 0 and 2,
            // then of lanes 1 and 3 (and the odd components); the four lanes then meet those
            // of lanes 4 to 7.
            const index interleave = {0, 8, 2, 10, 4, 12, 6, 14};
            const index first_component = {0, 4, 1, 5, 8, 12, 9, 13};
            for (int chunk = 0; chunk < run; chunk += 4) {
                const plane rows01 = two_rows(0, chunk);
                const plane rows23 = two_rows(2, chunk);
                const plane rows45 = two_rows(4, chunk);
                const plane rows67 = two_rows(6, chunk);
                const plane even_low = two_source_permute(rows01, interleave, rows23);
                const plane odd_low = two_source_permute(rows01, interleave + 1, rows23);
                const plane even_high = two_source_permute(rows45, interleave, rows67);
                const plane odd_high = two_source_permute(rows45, interleave + 1, rows67);
                put(chunk, two_source_permute(even_low, first_component, even_high));
                put(chunk + 1, two_source_permute(odd_low, first_component, odd_high));
                put(chunk + 2, two_source_permute(even_low, first_component + 2, even_high));
                put(chunk + 3, two_source_permute(odd_low, first_component + 2, odd_high));
            }
        }
    }

    // The float32 components of each lane's Count consecutive elements (see load_runs in
    // the vector layer), as pairs: each lane's run (always an even number of components)
    // gathered as 8-byte units, eight lanes to a gather, each unit then split into its two
    // components. Half the gathered loads of one gather per component.
    template <class R, int C, int Lanes, int Count>
    static void load_float_runs(const unsigned char* signal, const vec<std::int32_t, Lanes>& start,
                                elements<R, C, Lanes>* const (&at)[Count]) {
        static_assert(sizeof(R) == 4 && (Lanes == 8 || Lanes == 16), "float32 components");
        using plane = vec<R, Lanes>;
        constexpr int run = Count * C;
        static_assert(run % 2 == 0, "whole 8-byte units");
        constexpr int element_bytes = sizeof(R) * C;
        const auto gather_units = [signal](const vec<std::int32_t, 8>& index, int unit) {
            return _mm512_mask_i32gather_pd(
                _mm512_setzero_pd(), every_lane8, reinterpret_cast<__m256i>(index),
                signal + (static_cast<std::size_t>(unit) * 2 * sizeof(R)), element_bytes);
        };
        const auto evens = even_lanes<vec<std::int32_t, Lanes>>();
        for (int unit = 0; unit < run / 2; ++unit) {
            plane low;
            plane high;
            if constexpr (Lanes == 16) {
                const auto index = reinterpret_cast<__m512i>(start);
                using half = vec<std::int32_t, 8>;
                low = reinterpret_cast<plane>(gather_units(
                    reinterpret_cast<half>(_mm512_maskz_extracti64x4_epi64(every_lane8, index, 0)),
                    unit));
                high = reinterpret_cast<plane>(gather_units(
                    reinterpret_cast<half>(_mm512_maskz_extracti64x4_epi64(every_lane8, index, 1)),
                    unit));
            } else {
                const __m512d both = gather_units(start, unit);
                low = reinterpret_cast<plane>(_mm512_maskz_extractf64x4_pd(every_lane8, both, 0));
                high = reinterpret_cast<plane>(_mm512_maskz_extractf64x4_pd(every_lane8, both, 1));
            }
            // Component 2 * unit + 1 of a lane's run is component j % C of neighbour j / C.
            const int j = 2 * unit;
            at[j / C]->part[j % C] = two_source_permute(low, evens, high);
            at[(j + 1) / C]->part[(j + 1) % C] = two_source_permute(low, evens + 1, high);
        }
    }

private:
    // Lane l takes lane index[l] of the 2 * Lanes lanes of `low` followed by `high`
    // (vpermt2ps / vpermt2pd on 32- or 64-byte vectors).
    template <class V, class I>
    static V two_source_permute(const V& low, const I& index, const V& high) {
        static_assert(sizeof(I) == sizeof(V), "one index per lane");
        if constexpr (sizeof(V) == 64 && sizeof(low[0]) == 8) {
            return reinterpret_cast<V>(_mm512_permutex2var_pd(reinterpret_cast<__m512d>(low),
                                                              reinterpret_cast<__m512i>(index),
                                                              reinterpret_cast<__m512d>(high)));
        } else if constexpr (sizeof(V) == 64) {
            return reinterpret_cast<V>(_mm512_permutex2var_ps(reinterpret_cast<__m512>(low),
                                                              reinterpret_cast<__m512i>(index),
                                                              reinterpret_cast<__m512>(high)));
        } else if constexpr (sizeof(low[0]) == 8) {
            static_assert(sizeof(V) == 32, "32- or 64-byte vectors");
            return reinterpret_cast<V>(_mm256_permutex2var_pd(reinterpret_cast<__m256d>(low),
                                                              reinterpret_cast<__m256i>(index),
                                                              reinterpret_cast<__m256d>(high)));
        } else {
            static_assert(sizeof(V) == 32, "32- or 64-byte vectors");
            return reinterpret_cast<V>(_mm256_permutex2var_ps(reinterpret_cast<__m256>(low),
                                                              reinterpret_cast<__m256i>(index),
                                                              reinterpret_cast<__m256>(high)));
        }
    }

    // 0, 2, 4, ...: the even lanes of two vectors, one after the other.
    template <class I>
    static I even_lanes() {
        I evens;
        for (unsigned lane = 0; lane < sizeof(I) / sizeof(evens[0]); ++lane) {
            evens[lane] = static_cast<int>(2 * lane);
        }
        return evens;
    }

    // One vector of `low`'s lanes followed by `high`'s.
    static __m512d concatenate(__m256d low, __m256d high) {
        return _mm512_maskz_insertf64x4(every_lane8, _mm512_castpd256_pd512(low), high, 1);
    }
};

}  // namespace velquin::VELQUIN_LEVEL
