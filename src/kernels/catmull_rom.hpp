// The uniform Catmull-Rom cubic on the samples u, o, t, v (at i-1, i, i+1, i+2) and the
// fraction d, in the grouping that cubic.hpp states, written once for the scalar kernel (one
// element) and for every level (a block of lanes). `times_real(value, k)` is the caller's
// product of a value with a real k, given as an R or as a weight of the caller's type.
// Each caller instantiates it with its own types (a level's lanes live in that level's
// namespace), so no two translation units emit the same code.
#pragma once

namespace velquin {

template <class R, class Value, class Weight, class TimesReal>
#if defined(__GNUC__) || defined(__clang__)
[[gnu::always_inline]]
#endif
inline Value catmull_rom(const Value& u, const Value& o, const Value& t, const Value& v,
                         const Weight& d, TimesReal times_real) {
    const R half = 0.5;
    const Value a =
        times_real(times_real(((v - times_real(t, R(3))) + times_real(o, R(3))) - u, half), d);
    const Value b =
        times_real(((times_real(t, R(4)) - v) - times_real(o, R(5))) + times_real(u, R(2)), half);
    const Value g = times_real(t - u, half);
    return times_real(times_real(a + b, d) + g, d) + o;
}

}  // namespace velquin
