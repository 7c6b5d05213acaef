// The vectorised kernels of each instruction-set level, as the dispatcher sees them. Each
// level's kernels are compiled in their own translation unit (level.cpp) and namespace, and
// instantiated there for every (component type R, components C, position type X).
#pragma once

#include <cstdint>

// Same arguments as the scalar kernels, with elements passed as arrays of C components.
#define VELQUIN_DECLARE_LEVEL_KERNELS(level)                                                   \
    namespace velquin::level {                                                                 \
    template <class R, int C, class X>                                                         \
    void linear_interp(const void* signal, std::uint64_t n, const void* x, std::uint64_t m,    \
                       const R* left, const R* right, R* result);                              \
    template <class R, int C, class X>                                                         \
    void cubic_interp(const void* signal, std::uint64_t n, const void* x, std::uint64_t m,     \
                      const R* left, const R* right, R* result);                               \
    template <class R, int C>                                                                  \
    void blend_two_rows(const void* lower_row, const void* upper_row, std::uint64_t cols, R w, \
                        R* result);                                                            \
    }

VELQUIN_DECLARE_LEVEL_KERNELS(level_x86_64_v3)
VELQUIN_DECLARE_LEVEL_KERNELS(level_x86_64_v4)
