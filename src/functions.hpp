// The bound callables and their registration, one template per function, instantiated
// once per overload from module.cpp.
#pragma once

#include <string>

#include "dispatch.hpp"
#include "frame.hpp"
#include "kernels/cubic.hpp"
#include "kernels/linear.hpp"
#include "kernels/vertical.hpp"
#include "pybind11_internals.hpp"

namespace velquin {

template <class T>
std::string one_dimensional_doc() {
    return std::string("Linear interpolation of uniformly sampled signal for ") +
           element_traits<T>::name + " data.";
}

template <class T>
std::string vertical_doc() {
    return std::string("Linear vertical interpolation of uniformly sampled signal for ") +
           element_traits<T>::name + " data.";
}

// The bound callables take their arguments by value, so that each holds a reference to
// its argument for the whole call.
// NOLINTBEGIN(performance-unnecessary-value-param)
template <class T, class X>
array<T> velquin_linear_interp(array<T> signal, array<X> x, py::object left, py::object right) {
    return run_1d_frame(signal, x, left, right, [](auto... arguments) {
        run_kernel<T, X>(linear_interp_levels<T, X>, 2, kernels::linear_interp<T, X>, arguments...);
    });
}

template <class T>
array<T> velquin_linear_vertical_interp_2d(array<T> signal, number<double> x) {
    return run_vertical_frame(signal, x.value, run_blend<T>);
}

template <class T, class X>
array<T> velquin_cubic_interp(array<T> signal, array<X> x, py::object left, py::object right) {
    // Below 4 samples there is no cubic segment, and the vectorised kernel needs one.
    return run_1d_frame(signal, x, left, right, [](auto... arguments) {
        run_kernel<T, X>(cubic_interp_levels<T, X>, 4, kernels::cubic_interp<T, X>, arguments...);
    });
}
// NOLINTEND(performance-unnecessary-value-param)

// The functions' names, as registered here and as the shortcut finds them.
inline constexpr const char* linear_interp_name = "velquin_linear_interp";
inline constexpr const char* vertical_interp_name = "velquin_linear_vertical_interp_2d";
inline constexpr const char* cubic_interp_name = "velquin_cubic_interp";

// Both one-dimensional functions share their docstrings, arguments and defaults.
template <class T, class X>
void define_one_dimensional(py::module_& module, const char* name,
                            array<T> (*function)(array<T>, array<X>, py::object, py::object)) {
    module.def(name, function, one_dimensional_doc<T>().c_str(), py::arg("signal"), py::arg("x"),
               py::arg("left") = py::none(), py::arg("right") = py::none());
}

template <class T, class X>
void register_linear_interp(py::module_& module) {
    define_one_dimensional(module, linear_interp_name, &velquin_linear_interp<T, X>);
}

template <class T>
void register_vertical_interp(py::module_& module) {
    module.def(vertical_interp_name, &velquin_linear_vertical_interp_2d<T>,
               vertical_doc<T>().c_str(), py::arg("signal"), py::arg("x"));
}

template <class T, class X>
void register_cubic_interp(py::module_& module) {
    define_one_dimensional(module, cubic_interp_name, &velquin_cubic_interp<T, X>);
}

}  // namespace velquin
