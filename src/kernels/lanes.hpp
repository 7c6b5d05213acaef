// Lanes: the vector types of the vectorised kernels, for every instruction set.
//
// Vectors are GCC's generic vector types (GCC and clang), lowered to the instructions of
// each level's compiler flags. Everything lives in the namespace VELQUIN_LEVEL, which the
// build defines differently for each level's translation unit: code compiled for one
// instruction set must never be merged by the linker into another level or into the
// baseline, so nothing here is an inline function or template of a namespace the levels
// share, and nothing uses the standard library beyond integer types and memcpy (a builtin).
//
// Element types are handled as components: a real element is one component R, a complex
// element two (re, im), kept in separate vectors. Every operation is the lane-wise IEEE
// operation, so each lane rounds exactly as the scalar code does.
#pragma once

#ifndef VELQUIN_LEVEL
#error "VELQUIN_LEVEL must name this translation unit's instruction-set level"
#endif

#include <cstdint>
#include <cstring>

namespace velquin::VELQUIN_LEVEL {

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

// The same bits as another type of the same size.
template <class To, class From>
inline To bit_cast(const From& value) {
    static_assert(sizeof(To) == sizeof(From), "same size");
    To result;
    std::memcpy(&result, &value, sizeof(To));
    return result;
}

// Every lane a copy of `value`, bit for bit (arithmetic such as 0 + value would turn -0
// into +0 and quieten a signalling NaN).
template <class V, class E>
inline V broadcast(E value) {
    static_assert(sizeof(V) % sizeof(E) == 0, "lanes of the value's type");
    V all;
    for (unsigned lane = 0; lane < sizeof(V) / sizeof(E); ++lane) {
        all[lane] = value;
    }
    return all;
}

// A mask for lanes of another width, lane by lane.
template <class To, int Lanes, class From>
inline mask<To, Lanes> convert_mask(const From& lanes) {
    return __builtin_convertvector(lanes, mask<To, Lanes>);
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

// The float32 runs of the vector layer (load_runs) for levels that load them one component
// at a time: Level::load_component gives component c of the element at[l] in every lane l.
template <class Level>
class float_runs_by_component {
public:
    template <class R, int C, int Lanes, int Count>
    static void load_float_runs(const unsigned char* signal, const vec<std::int32_t, Lanes>& start,
                                elements<R, C, Lanes>* const (&at)[Count]) {
        for (int j = 0; j < Count; ++j) {
            for (int c = 0; c < C; ++c) {
                at[j]->part[c] = Level::template load_component<R, C, Lanes>(signal, start + j, c);
            }
        }
    }

private:
    float_runs_by_component() = default;
    friend Level;
};

}  // namespace velquin::VELQUIN_LEVEL
