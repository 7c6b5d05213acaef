// Names shared by the frame and the bindings: the array type and the element types' names.
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
// A class of its own so that its argument caster (below) can take shortcuts.
template <class T>
class array : public py::array_t<T> {
public:
    using py::array_t<T>::array_t;
    // Null until assigned: array_t's own default constructor allocates an empty array, and
    // every argument caster the dispatcher tries default-constructs its value.
    array() : py::array_t<T>(py::handle(), py::object::borrowed_t{}) {}
    explicit array(py::array_t<T>&& converted) : py::array_t<T>(std::move(converted)) {}
};

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

// Arguments of type velquin::array<T> accept exactly what pybind11's array_t<T> caster
// accepts, and yield the same object. An ndarray (not a subclass) whose dtype is T's native
// dtype is taken as it is, as pybind11's conversion call would return it unchanged; an
// ndarray of another of the four element types is refused at once when conversions are
// not allowed, as pybind11's equivalence test would refuse it. Everything else goes
// through pybind11's caster. The dispatcher loads arguments for every overload it tries,
// so these loads are most of the cost of a short call.
namespace pybind11::detail {

template <class T>
struct pyobject_caster<velquin::array<T>> {
    PYBIND11_TYPE_CASTER(velquin::array<T>, handle_type_name<array_t<T>>::name);

    bool load(handle src, bool convert) {
        const npy_api& api = npy_api::get();
        if (api.PyArray_Check_(src.ptr())) {
            const auto* descr = array_descriptor_proxy(array_proxy(src.ptr())->descr);
            const bool element_type = is_element_type(descr->type_num);
            if (element_type && descr->type_num == npy_format_descriptor<T>::value &&
                descr->byteorder == '=' && Py_TYPE(src.ptr()) == api.PyArray_Type_) {
                value = reinterpret_borrow<velquin::array<T>>(src);
                return true;
            }
            if (!convert && element_type && descr->type_num != npy_format_descriptor<T>::value) {
                return false;
            }
        }
        pyobject_caster<array_t<T>> caster;
        if (!caster.load(src, convert)) {
            return false;
        }
        value = velquin::array<T>(std::move(static_cast<array_t<T>&>(caster)));
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

}  // namespace pybind11::detail
