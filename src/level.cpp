// The vectorised kernels of one instruction-set level of level_list.hpp. The build compiles
// this file once per level, with that level's flags, and defines VELQUIN_LEVEL (its
// namespace), VELQUIN_LEVEL_ARCH (its architecture), VELQUIN_PRIMITIVES (its primitives'
// struct) and VELQUIN_PRIMITIVES_HEADER (their header, "simd/<primitives>.hpp"): the
// generic kernels below are written over that struct. For other architectures (the other
// half of a universal binary) it compiles to nothing.
#include "levels.hpp"

#if VELQUIN_LEVEL_ARCH == VELQUIN_ARCH

#include VELQUIN_PRIMITIVES_HEADER

namespace velquin::VELQUIN_LEVEL {
using simd = VELQUIN_PRIMITIVES;
}  // namespace velquin::VELQUIN_LEVEL

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
