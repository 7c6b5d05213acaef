// Names shared by the frame and the bindings: the argument types, their casters and the
// element types' names.
#pragma once

#include <pybind11/complex.h>
#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>

#include <utility>

#include "element.hpp"

namespace velquin {

namespace py = pybind11;

// Every array argument and result keeps pybind11's default flags (force-cast, no layout
// demand): the frame checks the layout itself, so that a wrong layout gets our message.
// A class of its own for its argument caster (below).
template <class T>
class array : public py::array_t<T> {
public:
    using py::array_t<T>::array_t;
    // Null until loaded: array_t's own default constructor allocates an empty array, and
    // the dispatcher default-constructs an argument caster for every overload it tries.
    array() : py::array_t<T>(py::handle(), py::object::borrowed_t{}) {}
};

// A number converted exactly as pybind11 converts a T (a double for the row position, an
// element for a fill value); a type of its own for its caster (below).
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

// The casters accept exactly what pybind11's casters for array_t<T>, double and
// std::complex accept, in the same steps, and yield the same values; they differ only in
// letting the caller's interrupts and memory errors through (clear_conversion_error).
namespace pybind11::detail {

template <class T>
struct pyobject_caster<velquin::array<T>> {
    PYBIND11_TYPE_CASTER(velquin::array<T>, handle_type_name<array_t<T>>::name);

    bool load(handle src, bool convert) {
        const npy_api& api = npy_api::get();
        // An ndarray (not a subclass) of T's native dtype: NumPy's conversion would hand
        // back the same object, so it is taken as it is.
        if (api.PyArray_Check_(src.ptr()) && Py_TYPE(src.ptr()) == api.PyArray_Type_) {
            const auto* descr = array_descriptor_proxy(array_proxy(src.ptr())->descr);
            if (descr->byteorder == '=' && is_element_type(descr->type_num)) {
                if (descr->type_num != npy_format_descriptor<T>::value) {
                    // Another element type: NumPy's equivalence test fails, and only the
                    // converting pass may cast it.
                    if (!convert) {
                        return false;
                    }
                } else {
                    value = reinterpret_borrow<velquin::array<T>>(src);
                    return true;
                }
            }
        }
        if (!convert && !array_t<T>::check_(src)) {
            return false;
        }
        PyObject* converted = api.PyArray_FromAny_(
            src.ptr(), dtype::of<T>().release().ptr(), 0, 0,
            npy_api::NPY_ARRAY_ENSUREARRAY_ | npy_api::NPY_ARRAY_FORCECAST_, nullptr);
        if (converted == nullptr) {
            velquin::clear_conversion_error();
            return false;
        }
        value = reinterpret_steal<velquin::array<T>>(converted);
        return true;
    }

    static handle cast(const handle& src, return_value_policy /*policy*/, handle /*parent*/) {
        return src.inc_ref();
    }

private:
    static bool is_element_type(int type_num) {
        return type_num == npy_api::NPY_FLOAT_ || type_num == npy_api::NPY_DOUBLE_ ||
               type_num == npy_api::NPY_CFLOAT_ || type_num == npy_api::NPY_CDOUBLE_;
    }
};

template <class R>
class type_caster<velquin::number<R>, enable_if_t<std::is_floating_point_v<R>>> {
public:
    // Python's float value, taken as a double and, for float, rounded once.
    bool load(handle src, bool convert) {
        if (!src) {
            return false;
        }
        if (!convert && PyFloat_Check(src.ptr()) == 0 && PyLong_Check(src.ptr()) == 0) {
            return false;
        }
        const double converted = PyFloat_AsDouble(src.ptr());
        if (PyErr_Occurred() != nullptr) {
            velquin::clear_conversion_error();
            if (convert && PyNumber_Check(src.ptr()) != 0) {
                const auto as_float = reinterpret_steal<object>(PyNumber_Float(src.ptr()));
                if (!as_float) {
                    velquin::clear_conversion_error();
                }
                return load(as_float, false);
            }
            return false;
        }
        value.value = static_cast<R>(converted);
        return true;
    }

    PYBIND11_TYPE_CASTER(velquin::number<R>,
                         io_name("typing.SupportsFloat | typing.SupportsIndex", "float"));
};

template <class R>
class type_caster<velquin::number<std::complex<R>>> {
public:
    // Python's complex value, taken as two doubles and, for complex64, each rounded once.
    bool load(handle src, bool convert) {
        if (!src) {
            return false;
        }
        if (!convert && PyComplex_Check(src.ptr()) == 0 && PyFloat_Check(src.ptr()) == 0 &&
            PyLong_Check(src.ptr()) == 0) {
            return false;
        }
        const Py_complex converted = PyComplex_AsCComplex(src.ptr());
        if (converted.real == -1.0 && PyErr_Occurred() != nullptr) {
            velquin::clear_conversion_error();
            return false;
        }
        value.value = {static_cast<R>(converted.real), static_cast<R>(converted.imag)};
        return true;
    }

    PYBIND11_TYPE_CASTER(
        velquin::number<std::complex<R>>,
        io_name("complex | typing.SupportsComplex | typing.SupportsFloat | typing.SupportsIndex",
                "complex"));
};

}  // namespace pybind11::detail
