// The instruction-set levels of level_list.hpp, as the module and each level's translation
// unit see them.
//
// A level is its primitives header (src/simd/) and the generic kernels compiled with its
// flags into its own namespace by level.cpp. A build for several architectures at once (a
// macOS universal binary) compiles every file once per architecture, so code and tables of
// a level exist only where its architecture matches VELQUIN_ARCH.
#pragma once

#include <cstdint>

#include "level_list.hpp"

#define VELQUIN_ARCH_x86_64 1
#define VELQUIN_ARCH_aarch64 2
#if defined(__x86_64__) || defined(_M_X64)
#define VELQUIN_ARCH VELQUIN_ARCH_x86_64
#elif defined(__aarch64__) || defined(_M_ARM64)
#define VELQUIN_ARCH VELQUIN_ARCH_aarch64
#else
#define VELQUIN_ARCH 0
#endif

// VELQUIN_IF_BUILT(name, ...) gives its other arguments where the level `name` was built
// for the architecture being compiled, and nothing elsewhere. The build generates it from
// the list (cmake/levels.cmake); a file compiled outside the build has no level.
#if __has_include("built_levels.hpp")
#include "built_levels.hpp"
#else
#define VELQUIN_IF_BUILT(name, ...)
#endif

// Same arguments as the scalar kernels, with elements passed as arrays of C components.
#define VELQUIN_DECLARE_LEVEL_KERNELS(name, ...)                                                   \
    namespace velquin::level_##name {                                                              \
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

VELQUIN_LEVELS(VELQUIN_DECLARE_LEVEL_KERNELS)
