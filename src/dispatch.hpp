// Choice of kernel per call: the vectorised kernels of the highest instruction-set level
// that was built and that this CPU runs, else the portable scalar kernels. The level is
// detected once; every level gives the same bits.
#pragma once

#include <cstdint>
#include <limits>
#include <type_traits>

#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__))
#include <cpuid.h>
#endif

#include "element.hpp"
#include "kernels/vertical.hpp"
#include "levels.hpp"

namespace velquin {

// The levels built for this architecture, lowest first, each with its kernels and the test
// of whether this CPU runs it; level 0, the scalar kernels, runs everywhere. On x86-64:
// AVX2 (x86-64-v3), then AVX-512 (x86-64-v4), chosen at run time; on aarch64: NEON, which
// every such CPU has.
#if defined(VELQUIN_LEVEL_x86_64_v3) && VELQUIN_LEVEL_x86_64_v3 == VELQUIN_ARCH
#define VELQUIN_IF_x86_64_v3(...) __VA_ARGS__,
#else
#define VELQUIN_IF_x86_64_v3(...)
#endif
#if defined(VELQUIN_LEVEL_x86_64_v4) && VELQUIN_LEVEL_x86_64_v4 == VELQUIN_ARCH
#define VELQUIN_IF_x86_64_v4(...) __VA_ARGS__,
#else
#define VELQUIN_IF_x86_64_v4(...)
#endif
#if defined(VELQUIN_LEVEL_neon) && VELQUIN_LEVEL_neon == VELQUIN_ARCH
#define VELQUIN_IF_neon(...) __VA_ARGS__,
#else
#define VELQUIN_IF_neon(...)
#endif

// A level's entry in a table of every level: its namespace's instance of `kernel`.
#define VELQUIN_EACH_LEVEL(kernel, ...)                             \
    VELQUIN_IF_x86_64_v3(&level_x86_64_v3::kernel<__VA_ARGS__>)     \
        VELQUIN_IF_x86_64_v4(&level_x86_64_v4::kernel<__VA_ARGS__>) \
            VELQUIN_IF_neon(&level_neon::kernel<__VA_ARGS__>)

// The x86 features each level's code generation may use (x86-64-v3: AVX, AVX2, BMI1, BMI2,
// F16C, FMA, LZCNT, MOVBE, POPCNT; v4 adds AVX512F/BW/CD/DQ/VL), and whether the operating
// system saves the vector registers (XCR0), read with CPUID and XGETBV. Not through
// __builtin_cpu_supports: it relies on the compiler's runtime library to fill in the CPU
// model, and some leave it empty (zig's, which builds the Linux wheels), which
// would run the scalar kernels on every CPU.
#if VELQUIN_ARCH == VELQUIN_ARCH_x86_64 && (defined(__GNUC__) || defined(__clang__))
struct x86_levels {
    bool v3 = false;
    bool v4 = false;
};

inline bool has_bits(unsigned value, unsigned mask) {
    return (value & mask) == mask;
}

// The CPUID leaves read.
constexpr unsigned cpuid_features = 1;
constexpr unsigned cpuid_structured_features = 7;
constexpr unsigned cpuid_extended_features = 0x80000001U;

// CPUID leaf 1, ECX: FMA (12), MOVBE (22), POPCNT (23), OSXSAVE (27), AVX (28), F16C (29).
constexpr unsigned leaf1_ecx_v3 =
    1U << 12U | 1U << 22U | 1U << 23U | 1U << 27U | 1U << 28U | 1U << 29U;
// CPUID leaf 7, EBX: BMI1 (3), AVX2 (5), BMI2 (8); then AVX512F (16), DQ (17), CD (28),
// BW (30), VL (31).
constexpr unsigned leaf7_ebx_v3 = 1U << 3U | 1U << 5U | 1U << 8U;
constexpr unsigned leaf7_ebx_v4 = 1U << 16U | 1U << 17U | 1U << 28U | 1U << 30U | 1U << 31U;
// CPUID leaf 0x80000001, ECX: LZCNT (5).
constexpr unsigned extended_ecx_v3 = 1U << 5U;
// XCR0: the SSE and AVX state (1, 2); the AVX-512 opmask and upper ZMM state (5, 6, 7).
constexpr unsigned xcr0_v3 = 0x6U;
constexpr unsigned xcr0_v4 = 0xe6U;

inline x86_levels read_x86_levels() {
    x86_levels levels;
    unsigned eax = 0;
    unsigned ebx = 0;
    unsigned ecx = 0;
    unsigned edx = 0;
    if (__get_cpuid(cpuid_features, &eax, &ebx, &ecx, &edx) == 0 || !has_bits(ecx, leaf1_ecx_v3)) {
        return levels;
    }
    unsigned xcr0 = 0;
    unsigned xcr0_high = 0;
    __asm__("xgetbv" : "=a"(xcr0), "=d"(xcr0_high) : "c"(0));
    if (!has_bits(xcr0, xcr0_v3) ||
        __get_cpuid_count(cpuid_structured_features, 0, &eax, &ebx, &ecx, &edx) == 0) {
        return levels;
    }
    const unsigned leaf7_ebx = ebx;
    if (__get_cpuid(cpuid_extended_features, &eax, &ebx, &ecx, &edx) == 0 ||
        !has_bits(ecx, extended_ecx_v3)) {
        return levels;
    }
    levels.v3 = has_bits(leaf7_ebx, leaf7_ebx_v3);
    levels.v4 = levels.v3 && has_bits(xcr0, xcr0_v4) && has_bits(leaf7_ebx, leaf7_ebx_v4);
    return levels;
}

inline bool cpu_runs_x86_64_v3() {
    return read_x86_levels().v3;
}
inline bool cpu_runs_x86_64_v4() {
    return read_x86_levels().v4;
}
#endif
inline bool cpu_runs_neon() {
    return true;
}

using level_test = bool (*)();
// Internal to the module file, as every table here: inline variables would be exported
// as GNU unique symbols, which hidden visibility does not stop.
static constexpr level_test level_tests[] = {nullptr, VELQUIN_IF_x86_64_v3(&cpu_runs_x86_64_v3)
                                                          VELQUIN_IF_x86_64_v4(&cpu_runs_x86_64_v4)
                                                              VELQUIN_IF_neon(&cpu_runs_neon)};
inline constexpr int level_count = sizeof(level_tests) / sizeof(level_tests[0]);

// The highest level this CPU runs.
inline int detect_vector_level() {
    int level = 0;
    for (int candidate = 1; candidate < level_count; ++candidate) {
        if (level_tests[candidate]()) {
            level = candidate;
        }
    }
    return level;
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

// Calls of fewer positions than this run at most AVX2 (level 1) on x86-64: AVX-512's wider
// blocks cost more to set up than they save on so few (16 positions: 5% to 8% slower than
// AVX2 on an Intel Xeon; from 64 on as fast or faster).
inline constexpr std::uint64_t short_call_positions = 64;
#if defined(VELQUIN_LEVEL_x86_64_v3) && VELQUIN_LEVEL_x86_64_v3 == VELQUIN_ARCH
inline constexpr int short_call_level = 1;
#else
inline constexpr int short_call_level = level_count - 1;
#endif

template <class T>
inline constexpr int components = std::is_same_v<T, real_t<T>> ? 1 : 2;

template <class T, class X>
using vector_kernel = void (*)(const void*, std::uint64_t, const void*, std::uint64_t,
                               const real_t<T>*, const real_t<T>*, real_t<T>*);

// One kernel per level, indexed by vector_level().
#define VELQUIN_LEVEL_KERNELS(name)                                     \
    template <class T, class X>                                         \
    static constexpr vector_kernel<T, X> name##_levels[level_count] = { \
        nullptr, VELQUIN_EACH_LEVEL(name, real_t<T>, components<T>, X)};

VELQUIN_LEVEL_KERNELS(linear_interp)
VELQUIN_LEVEL_KERNELS(cubic_interp)

template <class T>
using blend_kernel = void (*)(const void*, const void*, std::uint64_t, real_t<T>, real_t<T>*);

template <class T>
static constexpr blend_kernel<T> blend_two_rows_levels[level_count] = {
    nullptr, VELQUIN_EACH_LEVEL(blend_two_rows, real_t<T>, components<T>)};

// Runs the level's vectorised kernel when there is one and the signal suits it (at least
// `min_n` samples, indices within 32 bits), else the scalar kernel.
template <class T, class X, class ScalarKernel>
void run_kernel(const vector_kernel<T, X> (&levels)[level_count], std::uint64_t min_n,
                ScalarKernel scalar, const void* signal, std::uint64_t n, const void* x,
                std::uint64_t m, const T& left, const T& right, T* result) {
    using R = real_t<T>;
    const int level = m < short_call_positions && vector_level() > short_call_level
                          ? short_call_level
                          : vector_level();
    const vector_kernel<T, X> vectorised = levels[level];
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
