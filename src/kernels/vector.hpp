// The small vector layer under the vectorised kernels, built once per instruction-set level.
//
// Everything here lives in the namespace VELQUIN_LEVEL, which the build defines differently
// for each level's translation unit. Code compiled for AVX-512 must never be merged by the
// linker into the baseline path, so nothing here is an inline function or template of a
// namespace the levels share, and nothing here uses the standard library beyond integer
// types and memcpy (a builtin). Vectors are GCC's generic vector types: the same source is
// lowered to SSE2, AVX2 or AVX-512 instructions by each level's compiler flags.
//
// Element types are handled as components: a real element is one component R, a complex
// element two (re, im), kept in separate vectors. Every operation is the lane-wise IEEE
// operation, so each lane rounds exactly as the scalar code does.
#pragma once

#ifndef VELQUIN_LEVEL
#error "VELQUIN_LEVEL must name this translation unit's instruction-set level"
#endif

#include <immintrin.h>

#include <cstdint>
#include <cstring>

namespace velquin::VELQUIN_LEVEL {

// Bytes in one machine vector at this level.
inline constexpr int vector_bytes = VELQUIN_VECTOR_BYTES;

template <int Size>
struct int_of_size;
template <>
struct int_of_size<4> {
    using type = std::int32_t;
};
template <>
struct int_of_size<8> {
    using type = std::int64_t;
};

template <class E, int Lanes>
struct vector_of {
    typedef E type __attribute__((vector_size(sizeof(E) * Lanes)));
};
template <class E, int Lanes>
using vec = typename vector_of<E, Lanes>::type;

// Lane masks as comparisons produce them: all ones or all zeros, as wide as the lane.
template <class E, int Lanes>
using mask = vec<typename int_of_size<sizeof(E)>::type, Lanes>;

template <class V>
inline V load(const void* bytes) {
    V value;
    std::memcpy(&value, bytes, sizeof(V));
    return value;
}

template <class V>
inline void store(void* bytes, const V& value) {
    std::memcpy(bytes, &value, sizeof(V));
}

// Every lane a copy of `value`, bit for bit (arithmetic such as 0 + value would turn -0
// into +0 and quieten a signalling NaN).
template <class V>
inline V broadcast(decltype(V{}[0]) value) {
    V all;
    for (unsigned lane = 0; lane < sizeof(V) / sizeof(value); ++lane) {
        all[lane] = value;
    }
    return all;
}

// A mask for lanes of another width, lane by lane.
template <class To, int Lanes, class From>
inline mask<To, Lanes> convert_mask(const From& lanes) {
    return __builtin_convertvector(lanes, mask<To, Lanes>);
}

// True when every lane of a mask is set: halves are ANDed down to one machine vector,
// whose sign bits the level's movemask or compare instruction tests at once.
template <class M>
inline bool all_lanes(const M& lanes) {
    using words = vec<std::int64_t, sizeof(M) / 8>;
    words all;
    std::memcpy(&all, &lanes, sizeof(M));
    if constexpr (sizeof(M) > vector_bytes) {
        using half = vec<std::int64_t, sizeof(M) / 16>;
        half low;
        half high;
        std::memcpy(&low, &all, sizeof(half));
        std::memcpy(&high, reinterpret_cast<const unsigned char*>(&all) + sizeof(half),
                    sizeof(half));
        return all_lanes(low & high);
    } else if constexpr (sizeof(M) == 64) {
        return _mm512_cmpneq_epi64_mask(reinterpret_cast<__m512i>(all),
                                        _mm512_set1_epi64(-1)) == 0;
    } else if constexpr (sizeof(M) == 32) {
        return _mm256_movemask_epi8(reinterpret_cast<__m256i>(all)) == -1;
    } else {
        static_assert(sizeof(M) == 16, "masks are at least 16 bytes");
        return _mm_movemask_epi8(reinterpret_cast<__m128i>(all)) == 0xFFFF;
    }
}

// Lanes elements of C components each: component c of lane l is part[c][l].
template <class R, int C, int Lanes>
struct elements {
    using part_type = vec<R, Lanes>;
    part_type part[C];

    friend elements operator+(const elements& a, const elements& b) {
        elements sum;
        for (int c = 0; c < C; ++c) {
            sum.part[c] = a.part[c] + b.part[c];
        }
        return sum;
    }
    friend elements operator-(const elements& a, const elements& b) {
        elements difference;
        for (int c = 0; c < C; ++c) {
            difference.part[c] = a.part[c] - b.part[c];
        }
        return difference;
    }
};

// Each lane times a real weight; for complex elements the full product with (k, 0), with
// the products by zero kept, exactly as the scalar code writes it.
template <class R, int C, int Lanes>
inline elements<R, C, Lanes> times_real(const elements<R, C, Lanes>& value,
                                        const vec<R, Lanes>& k) {
    elements<R, C, Lanes> product;
    if constexpr (C == 1) {
        product.part[0] = value.part[0] * k;
    } else {
        const vec<R, Lanes> zero{};
        product.part[0] = value.part[0] * k - value.part[1] * zero;
        product.part[1] = value.part[0] * zero + value.part[1] * k;
    }
    return product;
}

template <class R, int C, int Lanes>
inline elements<R, C, Lanes> times_real(const elements<R, C, Lanes>& value, R k) {
    return times_real(value, broadcast<vec<R, Lanes>>(k));
}

// Every lane holds the element at `element` (C components, any alignment).
template <class R, int C, int Lanes>
inline elements<R, C, Lanes> broadcast_element(const void* element) {
    R components[C];
    std::memcpy(components, element, sizeof components);
    elements<R, C, Lanes> all;
    for (int c = 0; c < C; ++c) {
        all.part[c] = broadcast<vec<R, Lanes>>(components[c]);
    }
    return all;
}

// Lane l takes the element at index[l] + offset of the signal; scalar loads, which beat
// gather instructions on the machines measured.
template <class R, int C, int Lanes, class Index>
inline elements<R, C, Lanes> load_elements(const unsigned char* signal, const Index& index,
                                           int offset) {
    elements<R, C, Lanes> loaded;
    for (int lane = 0; lane < Lanes; ++lane) {
        const auto at = static_cast<std::uint64_t>(static_cast<std::int64_t>(index[lane]) + offset);
        for (int c = 0; c < C; ++c) {
            R component;
            std::memcpy(&component, signal + (at * C + c) * sizeof(R), sizeof(R));
            loaded.part[c][lane] = component;
        }
    }
    return loaded;
}

// Lane l takes s[index[l]] into `lower` and s[index[l] + 1] into `upper`, for real
// signals: one load of both neighbours per lane, then two permutes that split them.
template <class R, int Lanes, class Index>
inline void load_neighbours(const unsigned char* signal, const Index& index,
                            vec<R, Lanes>& lower, vec<R, Lanes>& upper) {
    using lane_index = typename int_of_size<sizeof(R)>::type;
    vec<R, 2> neighbours[Lanes];
    for (int lane = 0; lane < Lanes; ++lane) {
        const auto at = static_cast<std::uint64_t>(static_cast<std::int64_t>(index[lane]));
        std::memcpy(&neighbours[lane], signal + at * sizeof(R), sizeof(vec<R, 2>));
    }
    vec<R, Lanes> first_half;
    vec<R, Lanes> second_half;
    std::memcpy(&first_half, &neighbours[0], sizeof first_half);
    std::memcpy(&second_half, &neighbours[Lanes / 2], sizeof second_half);
    vec<lane_index, Lanes> even;
    for (int lane = 0; lane < Lanes; ++lane) {
        even[lane] = static_cast<lane_index>(2 * lane);
    }
    lower = __builtin_shuffle(first_half, second_half, even);
    upper = __builtin_shuffle(first_half, second_half, even + 1);
}

// `chosen` where the lanes of `where` are set, else `otherwise`.
template <class R, int C, int Lanes>
inline elements<R, C, Lanes> select(const mask<R, Lanes>& where,
                                    const elements<R, C, Lanes>& chosen,
                                    const elements<R, C, Lanes>& otherwise) {
    elements<R, C, Lanes> result;
    for (int c = 0; c < C; ++c) {
        result.part[c] = where ? chosen.part[c] : otherwise.part[c];
    }
    return result;
}

// Stores the first `count` lanes as densely packed elements.
template <class R, int C, int Lanes>
inline void store_elements(R* result, const elements<R, C, Lanes>& value, int count) {
    if constexpr (C == 1) {
        if (count == Lanes) {
            store(result, value.part[0]);
            return;
        }
    }
    R packed[Lanes * C];
    for (int lane = 0; lane < Lanes; ++lane) {
        for (int c = 0; c < C; ++c) {
            packed[lane * C + c] = value.part[c][lane];
        }
    }
    std::memcpy(result, packed, sizeof(R) * C * static_cast<unsigned>(count));
}

}  // namespace velquin::VELQUIN_LEVEL
