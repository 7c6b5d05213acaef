// Every use of pybind11's internals (namespace pybind11::detail), in one place. None of
// these names is documented API: any pybind11 release may change them, which is why
// pyproject.toml pins pybind11 to the minor version the tests ran with. Each is used
// because the public API has no equivalent that keeps the module's behaviour:
//   npy_api                  NumPy's C API as pybind11 loaded it (PyArray_Check_,
//                            PyArray_Type_, PyArray_FromAny_): the module includes no NumPy
//                            header, so it needs NumPy at run time only, as pybind11 does.
//   array_proxy,             an array's `base` and dtype fields: py::array has no accessor
//   array_descriptor_proxy   for the base, and reading the dtype through Python would cost
//                            an attribute lookup per argument and per call.
//   npy_format_descriptor    the dtype number of an element type, as array_t<T> uses it.
//   pyobject_caster,         the casters of the argument types. Specialising them is how
//   type_caster,             pybind11 documents custom conversions; they behave as
//   handle_type_name,        pybind11's own (same steps, values and signatures) but let the
//   io_name                  caller's interrupts and memory errors through, and io_name
//                            gives the stubs' argument and result annotations.
//   translate_exception      pybind11's standard translation of C++ exceptions into Python
//                            ones, registered as this module's own translator.
//   PYBIND11_STDLIB          (set in common.hpp) the module's own key for the state that
//                            pybind11 modules share, exception translators included.
// If an upgrade breaks one of these, the build fails here or the tests of the argument
// conversions (tests/test_frame.py) and of the signatures (tests/test_typing.py) fail.
#pragma once

#include "common.hpp"

namespace velquin {

// NumPy's C API as pybind11 loaded it. Each lookup goes through pybind11's
// per-interpreter storage: a caller that needs it often keeps the reference.
using numpy_api = py::detail::npy_api;

inline const numpy_api& numpy() {
    return numpy_api::get();
}

// The exceptions thrown here reach Python through pybind11's standard translation
// (std::runtime_error as RuntimeError with its message, the cast error, a pending Python
// error, a failed allocation as MemoryError), compiled into this module and tried before
// any translator of the shared state. A module that carries its own copy of the C++ runtime
// (the wheels do) has exception types of its own: another copy of this module, which
// shares the state's key, would not recognise them, and its translator would turn every
// message into "Caught an unknown exception!".
inline void translate_exceptions_here() {
    py::register_local_exception_translator(&py::detail::translate_exception);
}

// The object whose memory an ndarray views (its `base` field), or null.
inline py::handle array_base(py::handle array) {
    return py::detail::array_proxy(array.ptr())->base;
}

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
