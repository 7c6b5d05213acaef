// The vectorised kernels of one instruction-set level. The build compiles this file once
// per level, with that level's flags, VELQUIN_LEVEL naming its namespace, VELQUIN_SIMD and
// VELQUIN_SIMD_HEADER its primitives and VELQUIN_LEVEL_ARCH its architecture; for other
// architectures (the other half of a universal binary) it compiles to nothing.
#include "levels.hpp"

#if VELQUIN_LEVEL_ARCH == VELQUIN_ARCH

#include "kernels/cubic_vector.hpp"
#include "kernels/linear_vector.hpp"
#include "kernels/vertical_vector.hpp"

namespace velquin::VELQUIN_LEVEL {

// R is a type, which parentheses would turn into an expression.
// NOLINTBEGIN(bugprone-macro-parentheses)
#define VELQUIN_INSTANTIATE(R, C, X)                                                             \
    template void linear_interp<R, C, X>(const void*, std::uint64_t, const void*, std::uint64_t, \
                                         const R*, const R*, R*);                                \
    template void cubic_interp<R, C, X>(const void*, std::uint64_t, const void*, std::uint64_t,  \
                                        const R*, const R*, R*);
// NOLINTEND(bugprone-macro-parentheses)

VELQUIN_INSTANTIATE(float, 1, double)
VELQUIN_INSTANTIATE(double, 1, double)
VELQUIN_INSTANTIATE(float, 2, double)
VELQUIN_INSTANTIATE(double, 2, double)
VELQUIN_INSTANTIATE(float, 1, float)
VELQUIN_INSTANTIATE(double, 1, float)
VELQUIN_INSTANTIATE(float, 2, float)
VELQUIN_INSTANTIATE(double, 2, float)

template void blend_two_rows<float, 1>(const void*, const void*, std::uint64_t, float, float*);
template void blend_two_rows<double, 1>(const void*, const void*, std::uint64_t, double, double*);
template void blend_two_rows<float, 2>(const void*, const void*, std::uint64_t, float, float*);
template void blend_two_rows<double, 2>(const void*, const void*, std::uint64_t, double, double*);

}  // namespace velquin::VELQUIN_LEVEL

#endif
