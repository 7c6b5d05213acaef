// Choice of kernel per call: the vectorised kernels of the highest instruction-set level
// that was built and that this CPU runs, else the portable scalar kernels. The level is
// detected once; every level gives the same bits.
#pragma once

#include <atomic>
#include <cstdint>
#include <limits>
#include <type_traits>

#include "cpu.hpp"
#include "element.hpp"
#include "kernels/vertical.hpp"
#include "levels.hpp"

namespace velquin {

// Level 0 is the scalar kernels, which run everywhere; then each level of the list built
// for this architecture, in the list's order.
struct level_entry {
    bool short_calls;
    bool (*cpu_runs)();
};

// Internal to the module file, as every table here: inline variables would be exported
// as GNU unique symbols, which hidden visibility does not stop.
#define VELQUIN_LEVEL_ENTRY(name, architecture, primitives, flags, short_calls, cpu_test) \
    VELQUIN_IF_BUILT(name, level_entry{short_calls, [] { return cpu_test; }}, )
static constexpr level_entry level_entries[] = {{true, [] { return true; }},
                                                VELQUIN_LEVELS(VELQUIN_LEVEL_ENTRY)};
#undef VELQUIN_LEVEL_ENTRY
inline constexpr int level_count = sizeof(level_entries) / sizeof(level_entries[0]);
static_assert(level_count <= std::numeric_limits<std::int8_t>::max(), "a level fits in 8 bits");

// Calls of fewer positions than this run the highest level the CPU runs among those whose
// entry allows short calls.
inline constexpr std::uint64_t short_call_positions = 64;

struct chosen_levels {
    int any_call;
    int short_call;
};

// The highest level this CPU runs, and the highest of those for short calls. A level's
// test assumes every level below it passed, so the first that fails ends the search.
inline chosen_levels detect_levels() {
    chosen_levels chosen{0, 0};
    for (int level = 1; level < level_count && level_entries[level].cpu_runs(); ++level) {
        chosen.any_call = level;
        if (level_entries[level].short_calls) {
            chosen.short_call = level;
        }
    }
    return chosen;
}

// Detected on the first call, which threads may make at once where there is no interpreter
// lock: both levels sit in one lock-free atomic word, so that a call reads either nothing
// (and detects them itself: detection is a pure function of the CPU, so every thread
// stores the same word) or both, never half a store. Relaxed order suffices, since the word
// is the only thing published. A function-local static of an inline function would be a
// process-wide (GNU unique) symbol, shared by every loaded copy of the module; this one
// belongs to the module file alone.
struct alignas(4) detected_word {
    std::int8_t any_call;
    std::int8_t short_call;
    bool known;
};
static_assert(std::atomic<detected_word>::is_always_lock_free);

namespace {
std::atomic<detected_word> detected_levels{detected_word{0, 0, false}};
}  // namespace

inline chosen_levels vector_levels() {
    detected_word word = detected_levels.load(std::memory_order_relaxed);
    if (!word.known) {
        const chosen_levels chosen = detect_levels();
        word = {
            static_cast<std::int8_t>(chosen.any_call),
            static_cast<std::int8_t>(chosen.short_call),
            true,
        };
        detected_levels.store(word, std::memory_order_relaxed);
    }
    return {word.any_call, word.short_call};
}

template <class T>
inline constexpr int components = std::is_same_v<T, real_t<T>> ? 1 : 2;

template <class T, class X>
using vector_kernel = void (*)(const void*, std::uint64_t, const void*, std::uint64_t,
                               const real_t<T>*, const real_t<T>*, real_t<T>*);

// One kernel per level, indexed as level_entries.
#define VELQUIN_LINEAR_INTERP(name, ...) \
    VELQUIN_IF_BUILT(name, &level_##name::linear_interp<real_t<T>, components<T>, X>, )
#define VELQUIN_CUBIC_INTERP(name, ...) \
    VELQUIN_IF_BUILT(name, &level_##name::cubic_interp<real_t<T>, components<T>, X>, )
#define VELQUIN_BLEND_TWO_ROWS(name, ...) \
    VELQUIN_IF_BUILT(name, &level_##name::blend_two_rows<real_t<T>, components<T>>, )

template <class T, class X>
static constexpr vector_kernel<T, X> linear_interp_levels[level_count] = {
    nullptr, VELQUIN_LEVELS(VELQUIN_LINEAR_INTERP)};
template <class T, class X>
static constexpr vector_kernel<T, X> cubic_interp_levels[level_count] = {
    nullptr, VELQUIN_LEVELS(VELQUIN_CUBIC_INTERP)};

template <class T>
using blend_kernel = void (*)(const void*, const void*, std::uint64_t, real_t<T>, real_t<T>*);

template <class T>
static constexpr blend_kernel<T> blend_two_rows_levels[level_count] = {
    nullptr, VELQUIN_LEVELS(VELQUIN_BLEND_TWO_ROWS)};
#undef VELQUIN_LINEAR_INTERP
#undef VELQUIN_CUBIC_INTERP
#undef VELQUIN_BLEND_TWO_ROWS

// Runs the level's vectorised kernel when there is one and the signal suits it (at least
// `min_n` samples, indices within 32 bits), else the scalar kernel.
template <class T, class X, class ScalarKernel>
void run_kernel(const vector_kernel<T, X> (&levels)[level_count], std::uint64_t min_n,
                ScalarKernel scalar, const void* signal, std::uint64_t n, const void* x,
                std::uint64_t m, const T& left, const T& right, T* result) {
    using R = real_t<T>;
    const chosen_levels chosen = vector_levels();
    const int level = m < short_call_positions ? chosen.short_call : chosen.any_call;
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
    const blend_kernel<T> vectorised = blend_two_rows_levels<T>[vector_levels().any_call];
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
