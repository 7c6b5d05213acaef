// Names shared by the frame and the bindings: the array type and the element types' names.
#pragma once

#include <pybind11/complex.h>
#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>

#include "element.hpp"

namespace velquin {

namespace py = pybind11;

// Every array argument and result keeps pybind11's default flags (force-cast, no layout
// demand): the frame checks the layout itself, so that a wrong layout gets our message.
template <class T>
using array = py::array_t<T>;

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

}  // namespace velquin
