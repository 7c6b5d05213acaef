// The instruction-set levels, as the module and each level's translation unit see them.
//
// A level is one header of primitives (src/simd/) compiled with its flags into its own
// namespace by level.cpp. The build names each level it compiled, with the architecture
// it is for: VELQUIN_LEVEL_<level>=VELQUIN_ARCH_<architecture>. A build for several
// architectures at once (a macOS universal binary) compiles every file once per
// architecture, so code and tables of a level exist only where that matches VELQUIN_ARCH.
#pragma once

#include <cstdint>

#define VELQUIN_ARCH_x86_64 1
#define VELQUIN_ARCH_aarch64 2
#if defined(__x86_64__) || defined(_M_X64)
#define VELQUIN_ARCH VELQUIN_ARCH_x86_64
#elif defined(__aarch64__) || defined(_M_ARM64)
#define VELQUIN_ARCH VELQUIN_ARCH_aarch64
#else
#define VELQUIN_ARCH 0
#endif

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
VELQUIN_DECLARE_LEVEL_KERNELS(level_neon)
