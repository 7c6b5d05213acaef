// Types and element helpers shared by the frame, the bindings and every kernel.
#pragma once

#include <complex>
#include <cstdint>
#include <limits>
#include <type_traits>

#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>

namespace velquin {

namespace py = pybind11;

// Every array argument and result keeps pybind11's default flags (force-cast, no layout
// demand): the frame checks the layout itself, so that a wrong layout gets our message.
template <class T>
using array = py::array_t<T>;

using complex64 = std::complex<float>;
using complex128 = std::complex<double>;

// NumPy name of each element type, used in the docstrings.
template <class T>
struct element_traits;
template <>
struct element_traits<float> {
    static constexpr const char* name = "float32";
};
template <>
struct element_traits<double> {
    static constexpr const char* name = "float64";
};
template <>
struct element_traits<complex64> {
    static constexpr const char* name = "complex64";
};
template <>
struct element_traits<complex128> {
    static constexpr const char* name = "complex128";
};

// Component type of an element type: float for float and complex64, double otherwise.
template <class T>
struct real_of {
    using type = T;
};
template <class R>
struct real_of<std::complex<R>> {
    using type = R;
};
template <class T>
using real_t = typename real_of<T>::type;

// Element times a real weight. For a complex element this is the full product with
// (k, 0), written out because std::complex's operator* recovers infinities (C99 Annex G):
// the products with zero are kept, so an infinite or NaN component makes the other
// component NaN.
template <class R>
inline R times_real(R value, R k) {
    return value * k;
}
template <class R>
inline std::complex<R> times_real(std::complex<R> value, R k) {
    const R zero = 0;
    return {value.real() * k - value.imag() * zero, value.real() * zero + value.imag() * k};
}

// Quiet NaN of an element type, in every component.
template <class T>
inline T quiet_nan() {
    const real_t<T> nan = std::numeric_limits<real_t<T>>::quiet_NaN();
    if constexpr (std::is_same_v<T, real_t<T>>) {
        return nan;
    } else {
        return {nan, nan};
    }
}

}  // namespace velquin
