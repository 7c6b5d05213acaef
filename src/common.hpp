// Names shared by the frame and the bindings: the argument types and the element types'
// names. Their casters are in pybind11_internals.hpp.
#pragma once

// pybind11 keeps the state its modules share (among it the exception translators) under a
// key made of the compiler and the C++ runtime's ABI. A wheel carries its own hidden copy
// of the C++ runtime, so another module built the same way would share the key but not the
// exception types: each module's std::runtime_error would be unknown to the other's
// translator, and its message lost. This key is the module's own; it is set before any
// pybind11 header (pybind11_internals.hpp says more).
#define PYBIND11_STDLIB "_velquin_interp"
// The module refuses to load into a sub-interpreter, so pybind11 need not look up its state
// per interpreter on every access.
#define PYBIND11_HAS_SUBINTERPRETER_SUPPORT 0

#include <pybind11/complex.h>
#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>

#include <utility>

#include "element.hpp"

namespace velquin {

namespace py = pybind11;

// Every array argument and result keeps pybind11's default flags (force-cast, no layout
// demand): the frame checks the layout itself, so that a wrong layout gets our message.
// A class of its own for its argument caster.
template <class T>
class array : public py::array_t<T> {
public:
    using py::array_t<T>::array_t;
    // Null until loaded: array_t's own default constructor allocates an empty array, and
    // the dispatcher default-constructs an argument caster for every overload it tries.
    array() : py::array_t<T>(py::handle(), py::object::borrowed_t{}) {}
};

// A number converted exactly as pybind11 converts a T (a double for the row position, an
// element for a fill value); a type of its own for its caster.
template <class T>
struct number {
    T value;
};

// A conversion that failed with an ordinary error (TypeError, ValueError, OverflowError,
// a warning turned into an error, ...) means "this overload does not take the argument":
// the error is cleared and the dispatcher tries the next one, as with pybind11's casters.
// An interrupt, an exit or a lack of memory (any BaseException that is not an Exception,
// and MemoryError) is the caller's, whatever argument it hit: it propagates at once.
inline void clear_conversion_error() {
    if (PyErr_ExceptionMatches(PyExc_Exception) != 0 &&
        PyErr_ExceptionMatches(PyExc_MemoryError) == 0) {
        PyErr_Clear();
        return;
    }
    throw py::error_already_set();
}

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
