// Every use of pybind11's internals (namespace pybind11::detail), in one place. None of
// these names is documented API: any pybind11 release may change them, which is why
// pyproject.toml pins pybind11 to the minor version the tests ran with. Each is used
// because the public API has no equivalent that keeps the module's behaviour:
//   npy_api                  NumPy's C API as pybind11 loaded it (PyArray_Check_,
//                            PyArray_Type_, PyArray_FromAny_): the module includes no NumPy
//                            header, so it needs NumPy at run time only, as pybind11 does.
//   array_proxy,             an array's fields (data, dimensions, base, dtype) and its
//   array_descriptor_proxy,  dtype's (number, byte order, item size): py::array has no
//   array_descriptor1_proxy, accessor for the base, and its others look NumPy's API up or
//   array_descriptor2_proxy  take references on every use.
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
//   PYBIND11_HAS_SUBINTERPRETER_SUPPORT (set in common.hpp) off: the module refuses
//                            sub-interpreters, so pybind11 keeps one state for the process.
//   try_translate_exceptions pybind11's dispatcher's translation of an exception, for the
//                            calls that reach an overload without the dispatcher
//                            (shortcut.hpp).
// If an upgrade breaks one of these, the build fails here or the tests of the argument
// conversions (tests/test_frame.py), of the signatures (tests/test_typing.py) or of the
// shortcut against pybind11's dispatcher (tests/test_module.py, make test-levels) fail.
#pragma once

#include <atomic>

#include "common.hpp"

namespace velquin {

// NumPy's C API as pybind11 loaded it (on the first call, not at import), looked up once.
using numpy_api = py::detail::npy_api;

namespace {
std::atomic<const numpy_api*> loaded_numpy_api{nullptr};
}  // namespace

inline const numpy_api& numpy() {
    const numpy_api* api = loaded_numpy_api.load(std::memory_order_acquire);
    if (api == nullptr) {
        api = &numpy_api::get();
        loaded_numpy_api.store(api, std::memory_order_release);
    }
    return *api;
}

// The dtype number of an ndarray that is exactly an ndarray (no subclass) of one of the
// four element types in the machine's byte order, or -1: for such an array, and only for
// it, the argument casters take the array as it is, and refuse it where another element
// type is asked for without conversion.
inline int exact_element_type(PyObject* object) {
    if (Py_TYPE(object) != numpy().PyArray_Type_) {
        return -1;
    }
    const auto* descr = py::detail::array_descriptor_proxy(py::detail::array_proxy(object)->descr);
    const int type = descr->type_num;
    const bool element = type == numpy_api::NPY_FLOAT_ || type == numpy_api::NPY_DOUBLE_ ||
                         type == numpy_api::NPY_CFLOAT_ || type == numpy_api::NPY_CDOUBLE_;
    return descr->byteorder == '=' && element ? type : -1;
}

// NumPy's C feature version from 2.0 on, whose dtype fields lie elsewhere.
inline constexpr unsigned numpy2_feature_version = 0x12;

// An ndarray's data pointer and its size in bytes, from its fields.
struct array_extent {
    const void* data;
    py::ssize_t bytes;
    friend bool operator==(const array_extent& a, const array_extent& b) {
        return a.data == b.data && a.bytes == b.bytes;
    }
};

inline array_extent extent_of(PyObject* array) {
    const auto* fields = py::detail::array_proxy(array);
    py::ssize_t bytes = numpy().PyArray_RUNTIME_VERSION_ < numpy2_feature_version
                            ? py::detail::array_descriptor1_proxy(fields->descr)->elsize
                            : py::detail::array_descriptor2_proxy(fields->descr)->elsize;
    for (int axis = 0; axis < fields->nd; ++axis) {
        bytes *= fields->dimensions[axis];
    }
    return {fields->data, bytes};
}

// A new one-dimensional C-contiguous ndarray of `length` elements of T, as array_t<T>'s
// shape constructor makes it (its contents are left as allocated), in one call to NumPy.
template <class T>
array<T> new_vector(py::ssize_t length) {
    const numpy_api& api = numpy();
    PyObject* created = api.PyArray_NewFromDescr_(
        api.PyArray_Type_, api.PyArray_DescrFromType_(py::detail::npy_format_descriptor<T>::value),
        1, &length, nullptr, nullptr, 0, nullptr);
    if (created == nullptr) {
        throw py::error_already_set();
    }
    return py::reinterpret_steal<array<T>>(created);
}

// Sets the Python error for the exception being handled, as pybind11's dispatcher does.
inline void translate_current_exception() {
    py::detail::try_translate_exceptions();
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
        const npy_api& api = velquin::numpy();
        // An ndarray (not a subclass) of T's native dtype: NumPy's conversion would hand
        // back the same object, so it is taken as it is.
        const int type = velquin::exact_element_type(src.ptr());
        if (type == npy_format_descriptor<T>::value) {
            value = reinterpret_borrow<velquin::array<T>>(src);
            return true;
        }
        if (type >= 0 && !convert) {
            // Another element type: NumPy's equivalence test fails, and only the converting
            // pass may cast it.
            return false;
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
