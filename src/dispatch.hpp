// Choice of kernel per call: the vectorised kernels of the highest instruction-set level
// that was built and that this CPU runs, else the portable scalar kernels. The level is
// detected once; every level gives the same bits.
#pragma once

#include <cstdint>
#include <limits>
#include <type_traits>

#include "element.hpp"
#include "kernels/vertical.hpp"
#include "levels.hpp"

// Levels built above the baseline: 0 (none: scalar only), 1 x86-64-v3 (AVX2), 2 x86-64-v4
// (AVX-512). The build sets it; other architectures get the scalar kernels only.
#if !defined(VELQUIN_VECTOR_LEVELS) || !defined(__x86_64__)
#undef VELQUIN_VECTOR_LEVELS
#define VELQUIN_VECTOR_LEVELS 0
#endif

namespace velquin {

// Each feature is tested on its own: the level names ("x86-64-v4") are unknown to GCC 11
// and clang before 16. These are the features the levels' code generation may use.
inline int detect_vector_level() {
#if VELQUIN_VECTOR_LEVELS > 0
    __builtin_cpu_init();
    const bool avx2 = __builtin_cpu_supports("avx2") && __builtin_cpu_supports("avx") &&
                      __builtin_cpu_supports("fma") && __builtin_cpu_supports("bmi") &&
                      __builtin_cpu_supports("bmi2") && __builtin_cpu_supports("popcnt");
    const bool avx512 = avx2 && __builtin_cpu_supports("avx512f") &&
                        __builtin_cpu_supports("avx512bw") && __builtin_cpu_supports("avx512cd") &&
                        __builtin_cpu_supports("avx512dq") && __builtin_cpu_supports("avx512vl");
    if (VELQUIN_VECTOR_LEVELS >= 2 && avx512) {
        return 2;
    }
    if (avx2) {
        return 1;
    }
#endif
    return 0;
}

// Detected on the first call. A function-local static of an inline function would be a
// process-wide (GNU unique) symbol, shared by every loaded copy of the module; this one
// belongs to the module file alone.
namespace {
int detected_vector_level = -1;
}  // namespace

inline int vector_level() {
    if (detected_vector_level < 0) {
        detected_vector_level = detect_vector_level();
    }
    return detected_vector_level;
}

template <class T>
inline constexpr int components = std::is_same_v<T, real_t<T>> ? 1 : 2;

template <class T, class X>
using vector_kernel = void (*)(const void*, std::uint64_t, const void*, std::uint64_t,
                               const real_t<T>*, const real_t<T>*, real_t<T>*);

// A level's kernel where that level was built, else null.
#if VELQUIN_VECTOR_LEVELS >= 1
#define VELQUIN_IF_LEVEL_1(...) __VA_ARGS__
#else
#define VELQUIN_IF_LEVEL_1(...) nullptr
#endif
#if VELQUIN_VECTOR_LEVELS >= 2
#define VELQUIN_IF_LEVEL_2(...) __VA_ARGS__
#else
#define VELQUIN_IF_LEVEL_2(...) nullptr
#endif

// One kernel per level, indexed by vector_level(). Internal to the module file: inline
// variables would be exported as GNU unique symbols, which hidden visibility does not stop.
#define VELQUIN_LEVEL_KERNELS(name)                                              \
    template <class T, class X>                                                  \
    static constexpr vector_kernel<T, X> name##_levels[] = {                     \
        nullptr,                                                                 \
        VELQUIN_IF_LEVEL_1(&level_x86_64_v3::name<real_t<T>, components<T>, X>), \
        VELQUIN_IF_LEVEL_2(&level_x86_64_v4::name<real_t<T>, components<T>, X>), \
    };

VELQUIN_LEVEL_KERNELS(linear_interp)
VELQUIN_LEVEL_KERNELS(cubic_interp)

template <class T>
using blend_kernel = void (*)(const void*, const void*, std::uint64_t, real_t<T>, real_t<T>*);

template <class T>
static constexpr blend_kernel<T> blend_two_rows_levels[] = {
    nullptr,
    VELQUIN_IF_LEVEL_1(&level_x86_64_v3::blend_two_rows<real_t<T>, components<T>>),
    VELQUIN_IF_LEVEL_2(&level_x86_64_v4::blend_two_rows<real_t<T>, components<T>>),
};

// Runs the level's vectorised kernel when there is one and the signal suits it (at least
// `min_n` samples, indices within 32 bits), else the scalar kernel.
template <class T, class X, class ScalarKernel>
void run_kernel(const vector_kernel<T, X> (&levels)[3], std::uint64_t min_n, ScalarKernel scalar,
                const void* signal, std::uint64_t n, const void* x, std::uint64_t m, const T& left,
                const T& right, T* result) {
    using R = real_t<T>;
    const vector_kernel<T, X> vectorised = levels[vector_level()];
    if (vectorised != nullptr && n >= min_n &&
        n - 1 <= std::uint64_t{std::numeric_limits<std::int32_t>::max()}) {
        vectorised(signal, n, x, m, reinterpret_cast<const R*>(&left),
                   reinterpret_cast<const R*>(&right), reinterpret_cast<R*>(result));
        return;
    }
    scalar(packed_elements<T>(signal), n, packed_elements<X>(x), m, left, right, result);
}

// Blends the rows around x: the rules of blend_rows, with the inside case computed by the
// level's vectorised kernel when there is one.
template <class T>
void run_blend(const void* signal, std::uint64_t rows, std::uint64_t cols, double x, T* result) {
    using R = real_t<T>;
    const blend_kernel<T> vectorised = blend_two_rows_levels<T>[vector_level()];
    kernels::blend_rows<T>(
        signal, rows, cols, x, result,
        [vectorised](const void* lower, const void* upper, std::uint64_t count, R w, T* out) {
            if (vectorised != nullptr) {
                vectorised(lower, upper, count, w, reinterpret_cast<R*>(out));
            } else {
                kernels::blend_two_rows<T>(lower, upper, count, w, out);
            }
        });
}

}  // namespace velquin
